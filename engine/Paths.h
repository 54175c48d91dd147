// Taking "/"-separated paths apart, the same way everywhere.
#pragma once

#include <string>

namespace tabrend {

// The last component: "out/Q1.xlsx" gives "Q1.xlsx"; a path without "/" comes back whole.
inline std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder holding the last component, without a trailing "/": "out/Q1.xlsx" gives
// "out", "/Q1.xlsx" gives "/", and a path without "/" gives ".".
inline std::string ParentFolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace tabrend
