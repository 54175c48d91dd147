// Where a written part's bytes go. The sheet copy and the shared-string table write through
// a ByteSink; the workbook writer hands each such part a ScratchFile, an unnamed temporary
// file that the ZIP writer takes over and reads back when it packs the output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tabrend::spreadsheet {

class Deflater;

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends bytes. False when the device refuses them: the writer then reports the error
  // (an AutomationError naming what it was writing) and writes nothing more.
  [[nodiscard]] virtual bool Write(std::string_view bytes) = 0;
  // Pushes everything written to the device. False when that fails.
  [[nodiscard]] virtual bool Finish() = 0;
};

// Memory, then an unnamed file in TMPDIR (or /tmp) once the part outgrows kHeldBytes: the
// file has no name from the start, so nothing is left behind whether the output is finished
// or abandoned, and the parts of small outputs never make one. What is written is deflated
// on the way in, so the ZIP writer copies it as it stands: the part is compressed once, from
// the bytes in memory, and the scratch holds a fifth of them.
class ScratchFile : public ByteSink {
 public:
  // Deflated bytes kept in memory before they go to a file.
  static constexpr std::size_t kHeldBytes = std::size_t{4} << 20;

  // The finished part, for ZipWriter::AddDeflated: a raw deflate stream, in bytes or (when
  // not null) in file, read from its start, and the CRC-32 and size of the bytes it holds.
  struct Deflated {
    std::FILE* file = nullptr;
    std::string bytes;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
  };

  ScratchFile();
  ~ScratchFile() override;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Throws AutomationError naming the folder when the part needs a file and none can be made.
  bool Write(std::string_view bytes) override;
  // Ends the deflate stream; nothing may be written after it.
  bool Finish() override;
  // Hands the file over, after Finish.
  Deflated Release();

 private:
  // Deflates onto the held bytes or into the file; the held bytes past kHeldBytes make the
  // file. last ends the stream.
  bool Deflate(const void* data, std::size_t size, bool last);

  std::FILE* file_ = nullptr;
  std::string held_;  // everything deflated so far, while there is no file
  std::unique_ptr<Deflater> deflater_;
  std::string deflated_;  // output of one Write once there is a file, kept for its capacity
  bool finished_ = false;
};

// An unnamed file in TMPDIR (or /tmp), open for writing and reading back: it has no name
// from the start, so nothing is left behind whatever happens. Throws AutomationError naming
// the folder and `purpose` ("the copy") when none can be made.
std::FILE* UnnamedTemporaryFile(const std::string& purpose);

// Makes the scratch file of each part that is streamed rather than built in memory.
using ScratchFactory = std::function<std::unique_ptr<ScratchFile>()>;
std::unique_ptr<ScratchFile> NewScratchFile();

}  // namespace tabrend::spreadsheet
