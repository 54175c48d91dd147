// The run report of "/report=FILE": JSON Lines a program reads while the run goes on or after
// it. One line per worksheet of each workbook once the workbook is done, one line per
// workbook that failed without a sheet to blame, and a last summary line. Each line goes to
// the file in one write, so a report cut short by a kill still reads line by line; only the
// summary line says the run reached its end. The fields are documented in tabrendcli(1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tabrend::cli {

// What became of one worksheet.
struct SheetOutcome {
  enum class Status {
    kWritten,  // its output file was placed
    kSkipped,  // "/overwrite=0": a file stood at its name (or another run placed one meanwhile)
    kHidden,   // "/hidden=0" left it out
    kBlank,    // "/blank=0" left it out
    kFailed,   // its write failed, or the workbook's split stopped before it
    kListed,   // "/list=1": it would be written
    kPending,  // a PDF waiting for the batch's end
  };
  long index = 0;       // position among the workbook's worksheets, from 1
  std::string name;     // the sheet's name
  std::string output;   // the output file's path; empty when the sheet was not named
  Status status = Status::kFailed;
  std::string reason;   // why it was skipped, left out or failed; empty for a written sheet
  std::vector<std::string> losses;  // what its copy could not keep
  std::uintmax_t bytes = 0;         // the size of the file placed
};

// The sheet's output file was placed: it is written, and its size is taken.
void RecordPlaced(SheetOutcome& sheet);

class RunReport {
 public:
  RunReport() = default;
  ~RunReport();
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // Creates the file, or empties the one standing there. False with the system's reason in
  // error when it cannot be written.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return fd_ >= 0; }

  // One workbook, once done: its sheets' lines, and a workbook line when it failed
  // (errorNumber and error as the failure said) without a failed sheet to tell it.
  void Workbook(const std::string& source, const std::vector<SheetOutcome>& sheets, bool failed,
                long errorNumber, const std::string& error);
  // The last line: the counts of the lines written, the exit status, and why the batch
  // stopped early (empty when it did not).
  void Summary(int exitStatus, const std::string& stopped);

  // False once a line could not be written whole (a full disk): the report is not complete.
  bool Intact() const { return intact_; }
  const std::string& Path() const { return path_; }

 private:
  void WriteLine(std::string line);

  int fd_ = -1;
  std::string path_;
  bool intact_ = true;
  std::uintmax_t workbooks_ = 0, failedWorkbooks_ = 0, bytes_ = 0;
  std::uintmax_t counts_[7] = {};  // sheet lines by Status
};

}  // namespace tabrend::cli
