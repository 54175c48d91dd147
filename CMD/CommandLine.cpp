// The command line: cutting the tail into tokens, reading the switches, and the run itself.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string_view>
#include <utility>

#include "CMD/Module1.h"
#include "engine/PathKind.h"
#include "engine/Version.h"
#include "spreadsheet/Text.h"

namespace tabrend::cli {

namespace {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

bool IsHelpRequest(const std::vector<std::string>& args) {
  if (args.size() != 1) return false;
  const std::string token = spreadsheet::LowerAscii(args[0]);
  return token == "--help" || token == "-h" || token == "/?";
}

bool IsVersionRequest(const std::vector<std::string>& args) {
  return args.size() == 1 && spreadsheet::LowerAscii(args[0]) == "--version";
}

// One of the program's own switches, whatever its value: "/name=...", "/overwrite=...".
bool IsSwitch(const std::string& token) {
  const std::string lower = spreadsheet::LowerAscii(token);
  for (const char* name : {"/name=", "/overwrite=", "/open=", "/verbose=", "/hidden=", "/blank=", "/list=", "/format=", "/report="})
    if (lower.rfind(name, 0) == 0) return true;
  return false;
}

// A switch that takes one of a few values: sets value when token is name and one of them.
// False when token is name with a value not among them, which a run cannot guess at.
template <typename T>
bool ReadChoice(const std::string& token, std::string_view name,
                std::initializer_list<std::pair<std::string_view, T>> choices, T& value) {
  if (token.rfind(name, 0) != 0) return true;
  for (const auto& [text, choice] : choices) {
    if (token.substr(name.size()) == text) {
      value = choice;
      return true;
    }
  }
  return false;
}

// Why path, which GetPathKind found missing, is not taken as a source.
std::string NoSourceReason(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "'" + path + "': no such workbook file or folder";
  if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
    return "'" + path + "' is hidden: files and folders whose name begins with \".\" are not taken as sources";
  return "'" + path + "' is neither a workbook file nor a folder";
}

// "@LIST" names a list of workbooks, "@-" one on the standard input, unless a file or
// folder bears that very name: then it is the source it always was.
bool NamesSourceList(const std::string& source, std::string& rejection) {
  if (!source.starts_with('@')) return false;
  const std::string list = source.substr(1);
  struct stat info {};
  if (list == "-" || (::stat(list.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))) return true;
  rejection = list.empty() ? "'@': no list file named" : "'" + list + "': no such list file";
  return false;
}

// "/format=<word>" of a row of the formats table: sets format. False for another word.
bool ReadFormat(const std::string& token, OutputFormat& format) {
  constexpr std::string_view kSwitch = "/format=";
  if (token.rfind(kSwitch, 0) != 0) return true;
  const std::optional<OutputFormat> named = FormatNamed(std::string_view(token).substr(kSwitch.size()));
  if (named) format = *named;
  return named.has_value();
}

// The help lines of "/format=", one per row of the formats table.
std::string FormatUsage() {
  std::string lines;
  for (const OutputFormatRow& row : kOutputFormats) {
    std::string text = "  /format=" + std::string(row.word);
    text.resize(std::max<std::size_t>(text.size() + 1, 16), ' ');
    for (const char c : row.usage) text += c == '\n' ? std::string("\n") + std::string(16, ' ') : std::string(1, c);
    lines += text + "\n";
  }
  return lines;
}

}  // namespace

Module1::Module1(FolderOpener& opener, std::ostream& log)
    : Random(MakeSystemRandomSource()),
      CreateApplication(automation::CreateObject),
      AttachApplication(automation::GetObject),
      opener_(opener),
      log_(log) {}

bool Module1::SplitCommandLine(const std::string& line) {
  // Quotes pair up: the first opens, the second closes, the third opens again. Blanks inside
  // an open pair become the placeholder so the cut at blanks below passes over them.
  std::string work;
  int quotes = 0;
  for (const char c : line) {
    if (c == '"') ++quotes;
    if (quotes == 1 && c == ' ') {
      work += kBlankPlaceholder;
    } else {
      work += c;
    }
    if (quotes == 2 && c == '"') quotes = 0;
  }
  std::erase(work, '"');

  std::size_t start = 0;
  while (start <= work.size()) {
    auto end = work.find(' ', start);
    if (end == std::string::npos) end = work.size();
    std::string token = work.substr(start, end - start);
    ReplaceAll(token, kBlankPlaceholder, " ");
    if (!token.empty()) {
      if (Args.size() == kMaxArgs) return false;
      Args.push_back(std::move(token));
    }
    start = end + 1;
  }
  return true;
}

bool Module1::ParseOptions(const std::string& tail) {
  if (tail.empty()) {
    Rejection = "the command line is empty";
    return false;
  }
  if (!SplitCommandLine(tail)) {
    Rejection = "more than " + std::to_string(kMaxArgs) + " arguments";
    return false;
  }
  return ReadOptions();
}

bool Module1::ParseOptions(const std::vector<std::string>& arguments) {
  // The shell has cut and unquoted the line already: each argument is taken as it is.
  Args.clear();
  for (const auto& argument : arguments) {
    if (argument.empty()) continue;  // an empty quoted string holds no place
    if (Args.size() == kMaxArgs) {
      Rejection = "more than " + std::to_string(kMaxArgs) + " arguments";
      return false;
    }
    Args.push_back(argument);
  }
  if (Args.empty()) {
    Rejection = "the command line is empty";
    return false;
  }
  return ReadOptions();
}

bool Module1::ReadOptions() {
  NameMode = tabrend::NameMode::kSheetName;
  Overwrite = true;
  OpenOutput = false;
  WriteHidden = true;
  WriteBlank = true;
  ListOnly = false;
  Format = OutputFormat::kWorkbook;
  ReportPath.clear();
  SourcePath = Args.size() > 0 ? Args[0] : std::string();
  OutputRoot = Args.size() > 1 ? Args[1] : std::string();
  const int kind = GetPathKind(SourcePath);
  std::string notAList;
  ListSource = kind == kPathMissing && NamesSourceList(SourcePath, notAList);
  if (kind != kPathFolder && kind != kPathFile && !ListSource) {
    Rejection = SourcePath.empty()  ? "no source given"
                : !notAList.empty() ? notAList
                                    : NoSourceReason(SourcePath);
    return false;
  }
  // Without an output root there is nowhere sensible to write; the file system's root is
  // not a guess worth making, and neither is a folder named like a switch.
  if (OutputRoot.empty()) {
    Rejection = "no output folder given";
    return false;
  }
  if (IsSwitch(OutputRoot)) {
    Rejection = "no output folder given: '" + OutputRoot + "' is a switch";
    return false;
  }
  if (OutputRoot.back() != '/') OutputRoot += '/';
  for (std::size_t slot = kFirstSwitchSlot; slot < Args.size() && slot < kSwitchSlotEnd; ++slot) {
    const std::string token = spreadsheet::LowerAscii(Args[slot]);
    if (token == "/name=1") {
      NameMode = tabrend::NameMode::kSheetName;
    } else if (token == "/name=2") {
      NameMode = tabrend::NameMode::kWorkbookAndSheet;
    } else if (token == "/name=3") {
      NameMode = tabrend::NameMode::kRunningNumber;
    } else if (token == "/overwrite=0") {
      Overwrite = false;
    } else if (token == "/open=1") {
      OpenOutput = true;
    } else if (token == "/verbose=1") {
      Verbose = true;
    } else if (token.starts_with("/report=")) {
      ReportPath = Args[slot].substr(std::string_view("/report=").size());  // the path keeps its case
      if (ReportPath.empty()) {
        Rejection = "'" + Args[slot] + "': no report file named";
        return false;
      }
    } else if (!ReadChoice(token, "/hidden=", {{"0", false}, {"1", true}}, WriteHidden) ||
               !ReadChoice(token, "/blank=", {{"0", false}, {"1", true}}, WriteBlank) ||
               !ReadChoice(token, "/list=", {{"0", false}, {"1", true}}, ListOnly) || !ReadFormat(token, Format)) {
      Rejection = "'" + Args[slot] + "': unknown value";
      return false;
    }
    // "/overwrite=1", "/open=0" and anything else change nothing.
  }
  return true;
}

std::string Usage() {
  return std::string(R"(Usage: tabrendcli SOURCE OUTPUT [SWITCH...]
       tabrendcli --help | --version

Writes every worksheet of the workbook SOURCE, or of each workbook in the folder
SOURCE, into a workbook file of its own in the folder OUTPUT. A folder source gives
each workbook a subfolder of OUTPUT named after it, and OUTPUT must exist; for
a file source OUTPUT is created when its parent folder exists. Quote paths that
hold blanks. SOURCE written @LIST is a text file of workbook paths, one a line
(@- reads it from standard input); each workbook gets a subfolder as in a folder
run. A failure is told in one line on standard error; nothing else is printed
without /verbose=1 or /list=1.

Switches (after SOURCE and OUTPUT, in any order, letter case ignored):
  /name=1       name each file after its sheet; workbook_sheet when the sheet bears
                the workbook's name (the default)
  /name=2       name each file workbook_sheet
  /name=3       number the files 1, 2, 3... within each workbook
  /overwrite=0  skip a sheet whose output file exists (the default replaces it)
  /open=1       open OUTPUT in the file browser at the end
  /verbose=1    report each workbook on standard error
)") + FormatUsage() + R"(  /hidden=0     leave out hidden and very hidden sheets (the default writes
                them, made visible)
  /blank=0      leave out sheets that show nothing: no cell values, pictures,
                charts, shapes, comments or tables (the default writes them)
  /list=1       write nothing: print each sheet's output path (or why it is left
                out) and what its copy could not keep, on standard output
  /report=FILE  write a JSON Lines report into FILE as the run goes: a line for
                each sheet, for each workbook that failed, and a closing summary

Exit status:
  0  every workbook was split
  1  a workbook failed, the batch stopped early, or standard output could not be
     written
  2  the command line was not accepted (also for a switch above with another
     value, or a report file that cannot be written); nothing was done
)";
}

namespace {

// Every line printed goes through here: the characters of a name that would act on the
// terminal or disguise what follows them (control and bidirectional characters) are written
// out as escapes. Lines are held whole, so no character is cut between two writes.
class PrintableLines : public std::streambuf {
 public:
  explicit PrintableLines(std::ostream& target) : target_(*target.rdbuf()) {}
  ~PrintableLines() override { sync(); }
  // Why the target refused a write (errno); 0 while it took every one.
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    line_ += traits_type::to_char_type(c);
    if (line_.back() == '\n' && !Pass()) return traits_type::eof();
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    for (std::streamsize i = 0; i < count; ++i)
      if (traits_type::eq_int_type(overflow(traits_type::to_int_type(text[i])), traits_type::eof())) return i;
    return count;
  }
  int sync() override {
    if (!Pass()) return -1;
    errno = 0;
    if (target_.pubsync() == 0) return 0;
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    return -1;
  }

 private:
  // Writes the line held (its "\n" as it is) to the target; false when it could not.
  bool Pass() {
    if (line_.empty()) return true;
    const bool ended = line_.back() == '\n';
    std::string printable = spreadsheet::PrintableText(std::string_view(line_).substr(0, line_.size() - ended));
    if (ended) printable += '\n';
    line_.clear();
    errno = 0;
    if (target_.sputn(printable.data(), static_cast<std::streamsize>(printable.size())) ==
        static_cast<std::streamsize>(printable.size()))
      return true;
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    return false;
  }

  std::streambuf& target_;
  std::string line_;
  int error_ = 0;
};

bool IsHelpOrVersion(const std::string& token) {
  return IsHelpRequest({token}) || IsVersionRequest({token});
}

int Finish(Module1& module, bool accepted, std::ostream& out, const PrintableLines& outLines, std::ostream& err) {
  if (IsHelpRequest(module.Args)) {
    out << Usage();
  } else if (IsVersionRequest(module.Args)) {
    out << "tabrendcli " << kProductVersion << '\n';
  } else if (!accepted) {
    if (!module.Args.empty() && IsHelpOrVersion(module.Args[0]) && module.Args.size() > 1)
      module.Rejection = "'" + module.Args[0] + "' takes no other argument";
    err << "tabrendcli: " << module.Rejection << " (tabrendcli --help lists the usage)" << std::endl;
    return kExitNotAccepted;
  } else if (std::string error; !module.OpenReport(error)) {
    err << "tabrendcli: cannot write the report '" << module.ReportPath << "': " << error << std::endl;
    return kExitNotAccepted;
  } else if (!module.RunBatch()) {
    out.flush();
    return kExitFailed;
  }
  // What was to be printed must have been printed: a full disk is no success.
  if (out.flush()) return kExitDone;
  err << "tabrendcli: standard output cannot be written: " << std::strerror(outLines.Error()) << std::endl;
  return kExitFailed;
}

int Run(const std::function<bool(Module1&)>& parse, FolderOpener& opener, std::ostream& out, std::ostream& err) {
  PrintableLines printableOut(out), printableErr(err);
  std::ostream shownOut(&printableOut), shownErr(&printableErr);
  Module1 module(opener, shownErr);
  module.ListOut = &shownOut;
  const bool accepted = parse(module);
  return Finish(module, accepted, shownOut, printableOut, shownErr);
}

}  // namespace

int FormLoad(const std::string& tail, FolderOpener& opener, std::ostream& out,
             std::ostream& err) {
  return Run([&](Module1& module) { return module.ParseOptions(tail); }, opener, out, err);
}

int FormLoad(const std::vector<std::string>& arguments, FolderOpener& opener, std::ostream& out,
             std::ostream& err) {
  return Run([&](Module1& module) { return module.ParseOptions(arguments); }, opener, out, err);
}

}  // namespace tabrend::cli
