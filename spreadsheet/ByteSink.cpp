// Unnamed temporary files for the parts an output streams.
#include "spreadsheet/ByteSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "spreadsheet/Error.h"

namespace tabrend::spreadsheet {

// std::tmpfile would always use /tmp, whatever TMPDIR says.
ScratchFile::ScratchFile() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tabrend-copy-XXXXXX";
  const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (descriptor < 0)
    Fail("no temporary file could be created for the copy in '" + pattern.substr(0, pattern.rfind('/')) +
         "': " + std::strerror(errno));
  ::unlink(pattern.c_str());
  file_ = ::fdopen(descriptor, "w+b");
  if (file_ == nullptr) {
    ::close(descriptor);
    Fail("no temporary file could be created for the copy: " + std::string(std::strerror(errno)));
  }
}

ScratchFile::~ScratchFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool ScratchFile::Write(std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
}

bool ScratchFile::Finish() { return std::fflush(file_) == 0 && !std::ferror(file_); }

std::FILE* ScratchFile::Release() {
  std::FILE* file = file_;
  file_ = nullptr;
  return file;
}

std::unique_ptr<ScratchFile> NewScratchFile() { return std::make_unique<ScratchFile>(); }

}  // namespace tabrend::spreadsheet
