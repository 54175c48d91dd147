// A source "@LIST": a text file of workbook paths, or "@-" for the standard input, so that a
// script hands over any set of workbooks, not only a file or a whole folder.
#include <fstream>
#include <iostream>

#include "CMD/Module1.h"
#include "engine/Paths.h"
#include "engine/WorkbookFiles.h"

namespace tabrend::cli {

bool ReadSourceList(std::istream& in, const std::string& folder, std::vector<std::string>& paths) {
  paths.clear();
  std::string line;
  for (bool first = true; std::getline(in, line); first = false) {
    if (first && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos || line.starts_with('#')) continue;
    if (IsLockFileName(FileNameOf(line))) continue;
    paths.push_back(line.starts_with('/') || folder.empty() ? line : FolderWithSlash(folder) + line);
  }
  return !in.bad();
}

bool Module1::ReadListFile() {
  const std::string list = SourcePath.substr(1);
  if (list == "-") return ReadSourceList(ListInput != nullptr ? *ListInput : std::cin, "", BatchFiles);
  std::ifstream in(list, std::ios::binary);
  // Paths in the list are relative to its own folder, wherever the run was started.
  return in.is_open() && ReadSourceList(in, list.find('/') == std::string::npos ? "" : ParentFolderOf(list),
                                        BatchFiles);
}

}  // namespace tabrend::cli
