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

// A part's bytes, deflated on the way in, so the ZIP writer copies them as they stand: the part
// is compressed once, from the bytes in memory, and what is kept is a fifth of them. The first
// few megabytes are kept in memory; a part bigger than that goes on in an unnamed file in
// TMPDIR (or /tmp), which has no name from the start, so nothing is left behind whether the
// output is finished or abandoned. Most parts never need the file, and its making and its
// writing and reading back cost more than building the part.
class ScratchFile : public ByteSink {
 public:
  // The finished part, for ZipWriter::AddDeflated: a raw deflate stream, in the file read from
  // its start or, without a file, in held; and the CRC-32 and size of the bytes it holds.
  struct Deflated {
    std::FILE* file = nullptr;
    std::string held;
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
  // Deflated bytes held before the part goes to a file.
  static constexpr std::size_t kHeldBytes = std::size_t{4} << 20;

  bool Keep(const std::string& deflated);

  std::FILE* file_ = nullptr;
  std::unique_ptr<Deflater> deflater_;
  std::string held_;      // deflated bytes not in the file
  std::string deflated_;  // output of one Write, kept for its capacity
  bool finished_ = false;
};

// Makes the scratch file of each part that is streamed rather than built in memory.
using ScratchFactory = std::function<std::unique_ptr<ScratchFile>()>;
std::unique_ptr<ScratchFile> NewScratchFile();

}  // namespace tabrend::spreadsheet
