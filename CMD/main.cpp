// tabrendcli: splits the workbooks of a file or folder into one workbook file per worksheet.
#include <iostream>

#include "CMD/FolderOpener.h"
#include "CMD/Module1.h"

int main(int argc, char** argv) {
  tabrend::cli::XdgOpener opener;
  return tabrend::cli::FormLoad(tabrend::cli::CommandTail(argc, argv), opener, std::cout,
                                std::cerr);
}
