// Where a written part's bytes go. The sheet copy and the shared-string table write through
// a ByteSink; the workbook writer hands each such part a ScratchFile, an unnamed temporary
// file that the ZIP writer takes over and reads back when it packs the output.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

namespace tabrend::spreadsheet {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends bytes. False when the device refuses them: the writer then reports the error
  // (an AutomationError naming what it was writing) and writes nothing more.
  [[nodiscard]] virtual bool Write(std::string_view bytes) = 0;
  // Pushes everything written to the device. False when that fails.
  [[nodiscard]] virtual bool Finish() = 0;
};

// An unnamed file in TMPDIR (or /tmp): it has no name from the start, so nothing is left
// behind whether the output is finished or abandoned.
class ScratchFile : public ByteSink {
 public:
  // Throws AutomationError naming the folder when no file can be made there.
  ScratchFile();
  ~ScratchFile() override;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  bool Write(std::string_view bytes) override;
  bool Finish() override;
  // Hands the file over (to ZipWriter::AddFile, which reads it from its start and closes it).
  std::FILE* Release();

 private:
  std::FILE* file_ = nullptr;
};

// Makes the scratch file of each part that is streamed rather than built in memory.
using ScratchFactory = std::function<std::unique_ptr<ScratchFile>()>;
std::unique_ptr<ScratchFile> NewScratchFile();

}  // namespace tabrend::spreadsheet
