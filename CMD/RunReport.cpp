// The run report's lines and their one-write-each file.
#include "CMD/RunReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tabrend::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kStatusNames[] = {"written", "skipped", "hidden", "blank", "failed", "listed", "failed"};

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

}  // namespace

void RecordPlaced(SheetOutcome& sheet) {
  sheet.status = SheetOutcome::Status::kWritten;
  sheet.reason.clear();
  struct stat info {};
  sheet.bytes = ::stat(sheet.output.c_str(), &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
}

RunReport::~RunReport() {
  if (fd_ >= 0) ::close(fd_);
}

bool RunReport::Open(const std::string& path, std::string& error) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  path_ = path;
  return true;
}

void RunReport::WriteLine(std::string line) {
  line += '\n';
  // One write for the line: a regular file takes it whole or, on a full disk, in part, and
  // then the report is no longer what the run did.
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t wrote = ::write(fd_, line.data() + done, line.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      intact_ = false;
      return;
    }
    done += static_cast<std::size_t>(wrote);
  }
}

void RunReport::Workbook(const std::string& source, const std::vector<SheetOutcome>& sheets, bool failed,
                         long errorNumber, const std::string& error) {
  if (fd_ < 0) return;
  ++workbooks_;
  bool sheetFailed = false;
  for (const SheetOutcome& sheet : sheets) {
    // A PDF still waiting when its workbook is reported was never printed.
    const bool pending = sheet.status == SheetOutcome::Status::kPending;
    const auto status = static_cast<std::size_t>(sheet.status);
    ++counts_[status];
    bytes_ += sheet.bytes;
    sheetFailed = sheetFailed || sheet.status == SheetOutcome::Status::kFailed || pending;
    Json line;
    line["record"] = "sheet";
    line["source"] = source;
    line["sheet"] = sheet.name;
    line["index"] = sheet.index;
    line["output"] = TextOrNull(sheet.output);
    line["status"] = kStatusNames[status];
    line["reason"] = pending ? Json("not printed") : TextOrNull(sheet.reason);
    line["losses"] = sheet.losses;
    line["bytes"] = sheet.bytes;
    WriteLine(line.dump(-1, ' ', false, Json::error_handler_t::replace));
  }
  if (!failed) return;
  ++failedWorkbooks_;
  if (sheetFailed) return;
  Json line;
  line["record"] = "workbook";
  line["source"] = source;
  line["status"] = "failed";
  line["error"] = errorNumber != 0 ? Json(errorNumber) : Json(nullptr);
  line["reason"] = error;
  WriteLine(line.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void RunReport::Summary(int exitStatus, const std::string& stopped) {
  if (fd_ < 0) return;
  using Status = SheetOutcome::Status;
  const auto count = [this](Status status) { return counts_[static_cast<std::size_t>(status)]; };
  Json line;
  line["record"] = "summary";
  line["workbooks"] = workbooks_;
  line["failed_workbooks"] = failedWorkbooks_;
  line["written"] = count(Status::kWritten);
  line["skipped"] = count(Status::kSkipped);
  line["hidden"] = count(Status::kHidden);
  line["blank"] = count(Status::kBlank);
  line["failed"] = count(Status::kFailed) + count(Status::kPending);
  line["listed"] = count(Status::kListed);
  line["bytes"] = bytes_;
  line["stopped"] = TextOrNull(stopped);
  line["exit"] = exitStatus;
  WriteLine(line.dump(-1, ' ', false, Json::error_handler_t::replace));
}

}  // namespace tabrend::cli
