// A file as it stands on disk: its identity and the times its content and its entry last
// changed. Another stamp means another content; what is known of a file (its format, its
// shared strings) is kept by stamp, for every thread.
#pragma once

#include <sys/stat.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace tabrend::spreadsheet {

struct FileStamp {
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modified = 0, changed = 0;  // nanoseconds: content, and also mode or owner
  auto operator<=>(const FileStamp&) const = default;
};

// The stamp of the file at path; nullopt when it cannot be read.
inline std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  constexpr std::int64_t kNano = 1'000'000'000;
  return FileStamp{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                   static_cast<std::uint64_t>(info.st_size), info.st_mtim.tv_sec * kNano + info.st_mtim.tv_nsec,
                   info.st_ctim.tv_sec * kNano + info.st_ctim.tv_nsec};
}

}  // namespace tabrend::spreadsheet
