// Taking "/"-separated paths apart, the same way everywhere.
#pragma once

#include <sys/types.h>

#include <string>

namespace tabrend {

// The last component: "out/Q1.xlsx" gives "Q1.xlsx"; a path without "/" comes back whole.
inline std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The last component of a path that may end in "/": "in/Q1/" gives "Q1", "/" gives "/".
inline std::string LastComponentOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return FileNameOf(path);
}

// The folder as a prefix for the names in it, with exactly the trailing "/" it may lack:
// "out" and "out/" give "out/", "" gives "/".
inline std::string FolderWithSlash(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

// The folder holding the last component, without a trailing "/": "out/Q1.xlsx" gives
// "out", "/Q1.xlsx" gives "/", and a path without "/" gives ".".
inline std::string ParentFolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The mode every folder the programs make asks for; the umask takes from it.
inline constexpr mode_t kNewFolderMode = 0777;
// The modes of the programs' private working folders and files: the owner's alone.
inline constexpr mode_t kPrivateFolderMode = 0700;
inline constexpr mode_t kPrivateFileMode = 0600;

}  // namespace tabrend
