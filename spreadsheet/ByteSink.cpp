// Scratch memory and unnamed temporary files for the parts an output streams.
#include "spreadsheet/ByteSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Error.h"
#include "spreadsheet/Deflate.h"

namespace tabrend::spreadsheet {

// std::tmpfile would always use /tmp, whatever TMPDIR says.
std::FILE* UnnamedTemporaryFile(const std::string& purpose) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tabrend-copy-XXXXXX";
  const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (descriptor < 0)
    Fail(ErrorReason::kNotWritten,
         "no temporary file could be created for " + purpose + " in '" + pattern.substr(0, pattern.rfind('/')) +
         "': " + std::strerror(errno));
  ::unlink(pattern.c_str());
  std::FILE* file = ::fdopen(descriptor, "w+b");
  if (file == nullptr) {
    ::close(descriptor);
    Fail(ErrorReason::kNotWritten, "no temporary file could be created for " + purpose + ": " + std::strerror(errno));
  }
  return file;
}

ScratchFile::ScratchFile() : deflater_(std::make_unique<Deflater>()) {}

ScratchFile::~ScratchFile() {
  if (file_ != nullptr) std::fclose(file_);
}

// While there is no file the deflater writes onto the held bytes themselves, so nothing is
// copied there afterwards and no second buffer is touched: on a virtual machine every page a
// thread touches for the first time costs microseconds.
bool ScratchFile::Deflate(const void* data, std::size_t size, bool last) {
  if (file_ == nullptr) {
    // Room for all it may hold, taken once: growing it step by step copies it each time, and
    // pages not written to cost no memory.
    if (held_.capacity() < kHeldBytes) held_.reserve(kHeldBytes);
    deflater_->Write(data, size, last, held_);
    if (held_.size() <= kHeldBytes) return true;
    file_ = UnnamedTemporaryFile("the copy");
    const bool moved = std::fwrite(held_.data(), 1, held_.size(), file_) == held_.size();
    held_ = std::string();
    return moved;
  }
  deflated_.clear();
  deflater_->Write(data, size, last, deflated_);
  return std::fwrite(deflated_.data(), 1, deflated_.size(), file_) == deflated_.size();
}

bool ScratchFile::Write(std::string_view bytes) { return Deflate(bytes.data(), bytes.size(), false); }

bool ScratchFile::Finish() {
  if (!finished_) {
    finished_ = true;
    if (!Deflate(nullptr, 0, true)) return false;
    deflated_ = std::string();
  }
  return file_ == nullptr || (std::fflush(file_) == 0 && !std::ferror(file_));
}

ScratchFile::Deflated ScratchFile::Release() {
  Deflated handed{file_, std::move(held_), deflater_->Crc(), deflater_->Size()};
  file_ = nullptr;
  deflater_.reset();  // its memory goes to the next part
  return handed;
}

std::unique_ptr<ScratchFile> NewScratchFile() { return std::make_unique<ScratchFile>(); }

}  // namespace tabrend::spreadsheet
