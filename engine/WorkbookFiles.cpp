// The folder listing of workbook files.
#include "engine/WorkbookFiles.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "engine/Paths.h"

namespace tabrend {

bool HasWorkbookExtension(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot - 1 < 3) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    const char c = name[dot + 1 + i];
    if ((c | 0x20) != "xls"[i]) return false;
  }
  return true;
}

bool IsLockFileName(const std::string& name) { return name.starts_with("~$"); }

bool ListWorkbookFiles(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  const std::string prefix = FolderWithSlash(folder);
  DIR* listing = ::opendir(prefix.c_str());
  if (listing == nullptr) return false;
  bool listed = true;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing);
    if (entry == nullptr) {
      listed = errno == 0;
      break;
    }
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.' || IsLockFileName(name) || !HasWorkbookExtension(name)) continue;
    struct stat info {};
    if (::stat((prefix + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    names.push_back(name);
  }
  ::closedir(listing);
  std::sort(names.begin(), names.end());
  return listed;
}

}  // namespace tabrend
