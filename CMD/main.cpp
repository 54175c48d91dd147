// tabrendcli: splits the workbooks of a file or folder into one workbook file per worksheet.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "CMD/FolderOpener.h"
#include "CMD/Module1.h"

int main(int argc, char** argv) {
  tabrend::cli::XdgOpener opener;
  // A file-size limit makes a write fail (and the output be abandoned cleanly) instead of
  // killing the program halfway through one.
  std::signal(SIGXFSZ, SIG_IGN);
  return tabrend::cli::FormLoad(std::vector<std::string>(argv + 1, argv + argc), opener, std::cout,
                                std::cerr);
}
