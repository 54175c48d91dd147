// Test support: temporary folders, workbooks made by XlsxWriter, and outputs read back by
// openpyxl, an independent reader.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tabrend::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tabrend-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// An environment variable set for one scope.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Runs a Python script with Debian's python (openpyxl, XlsxWriter); returns its standard
// output. The arguments reach the script as sys.argv[1:], one per line of a file, so any
// name survives the trip.
inline std::string RunPython(const std::string& script, const std::vector<std::string>& args) {
  TempDir scratch;
  WriteFile(scratch.path() / "script.py", script);
  std::string lines;
  for (const auto& arg : args) lines += arg + "\n";
  WriteFile(scratch.path() / "args.txt", lines);
  const std::string command = std::string(TABREND_PYTHON) + " " +
                              (scratch.path() / "script.py").string() + " " +
                              (scratch.path() / "args.txt").string();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, n);
  }
  if (::pclose(pipe) != 0) throw std::runtime_error("python failed: " + script + "\n" + output);
  return output;
}

// Writes an .xlsx whose sheets carry the given names; cell A1 of each holds "<name> data".
inline void MakeWorkbook(const std::string& path, const std::vector<std::string>& sheets) {
  std::vector<std::string> args{path};
  args.insert(args.end(), sheets.begin(), sheets.end());
  RunPython(R"(import sys, xlsxwriter
args = open(sys.argv[1], encoding='utf-8').read().split('\n')[:-1]
book = xlsxwriter.Workbook(args[0])
for name in args[1:]:
    book.add_worksheet(name).write('A1', name + ' data')
book.close()
)",
            args);
}

// The sheets of a workbook as openpyxl reads them: (name, text of A1) in tab order.
inline std::vector<std::pair<std::string, std::string>> ReadSheets(const std::string& path) {
  const std::string output = RunPython(R"(import sys, openpyxl
path = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
book = openpyxl.load_workbook(path)
for sheet in book.worksheets + book.chartsheets:
    value = sheet['A1'].value if hasattr(sheet, 'cell') else None
    line = sheet.title + '\t' + ('' if value is None else str(value)) + '\n'
    sys.stdout.buffer.write(line.encode('utf-8'))
)",
                                       {path});
  std::vector<std::pair<std::string, std::string>> sheets;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto tab = line.find('\t');
    sheets.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return sheets;
}

// Text for a test parameter's name: letters, digits and a few marks kept, the rest "_", so
// test runners can select it.
inline std::string Printable(const std::string& text) {
  if (text.empty()) return "(empty)";
  std::string out;
  for (const unsigned char c : text) {
    out += std::isalnum(c) || std::string_view("=/.{}-").find(char(c)) != std::string_view::npos
               ? char(c)
               : '_';
  }
  return out;
}

// The names in a folder, sorted, hidden ones included.
inline std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tabrend::test
