// GetPathKind: what the file system says a path is.
#include "engine/PathKind.h"

#include <sys/stat.h>

#include "engine/Paths.h"

namespace tabrend {

namespace {

bool IsHiddenName(const std::string& path) {
  const std::string name = LastComponentOf(path);
  return name.size() > 1 && name[0] == '.' && name != "..";
}

}  // namespace

int GetPathKind(const std::string& path) {
  // "*" and "?" are ordinary characters of a name here: the shell expanded any wildcard.
  if (path.empty()) return kPathMissing;
  if (IsHiddenName(path)) return kPathMissing;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return kPathMissing;
  if (S_ISDIR(info.st_mode)) return kPathFolder;
  if (S_ISREG(info.st_mode)) return kPathFile;
  return kPathMissing;  // devices, sockets and pipes are not files a workbook can be
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace tabrend
