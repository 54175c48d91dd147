// tabrendcli: splits the workbooks of a file or folder into one workbook file per worksheet.
#include <iostream>
#include <string>
#include <vector>

#include "CMD/FolderOpener.h"
#include "CMD/Module1.h"
#include "engine/ProcessSetup.h"

int main(int argc, char** argv) {
  tabrend::cli::XdgOpener opener;
  tabrend::engine::PrepareProcess();
  return tabrend::cli::FormLoad(std::vector<std::string>(argv + 1, argv + argc), opener, std::cout,
                                std::cerr);
}
