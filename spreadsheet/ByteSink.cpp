// Unnamed temporary files for the parts an output streams.
#include "spreadsheet/ByteSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "spreadsheet/Deflate.h"
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
  deflater_ = std::make_unique<Deflater>();
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
  deflated_.clear();
  deflater_->Write(bytes.data(), bytes.size(), false, deflated_);
  return std::fwrite(deflated_.data(), 1, deflated_.size(), file_) == deflated_.size();
}

bool ScratchFile::Finish() {
  if (!finished_) {
    finished_ = true;
    deflated_.clear();
    deflater_->Write(nullptr, 0, true, deflated_);
    if (std::fwrite(deflated_.data(), 1, deflated_.size(), file_) != deflated_.size()) return false;
    deflated_ = std::string();
  }
  return std::fflush(file_) == 0 && !std::ferror(file_);
}

ScratchFile::Deflated ScratchFile::Release() {
  Deflated handed{file_, deflater_->Crc(), deflater_->Size()};
  file_ = nullptr;
  return handed;
}

std::unique_ptr<ScratchFile> NewScratchFile() { return std::make_unique<ScratchFile>(); }

}  // namespace tabrend::spreadsheet
