// Test support for the desktop engine: many workbooks made, and whole output trees read back
// by openpyxl, in one Python run each, so scenario tests stay quick.
#pragma once

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/TestWorkbooks.h"

namespace tabrend::test {

using Sheets = std::vector<std::pair<std::string, std::string>>;

// Writes one .xlsx per entry: path and its sheet names; cell A1 of each sheet holds
// "<name> data". Names must not hold a line break.
inline void MakeWorkbooks(const std::vector<std::pair<std::string, std::vector<std::string>>>& books) {
  std::vector<std::string> args;
  for (const auto& [path, sheets] : books) {
    args.push_back("\x1e" + path);  // a record separator starts each workbook
    args.insert(args.end(), sheets.begin(), sheets.end());
  }
  RunPython(R"(import sys, xlsxwriter
lines = open(sys.argv[1], encoding='utf-8').read().split('\n')[:-1]
book = None
for line in lines:
    if line.startswith('\x1e'):
        if book: book.close()
        book = xlsxwriter.Workbook(line[1:])
    else:
        book.add_worksheet(line).write('A1', line + ' data')
if book: book.close()
)",
            args);
}

// Every .xlsx under folder, by path relative to it, with its sheets as openpyxl reads them:
// (name, text of A1) in tab order.
inline std::map<std::string, Sheets> ReadOutputs(const std::filesystem::path& folder) {
  const std::string output = RunPython(R"(import sys, os, openpyxl
root = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
for folder, dirs, files in os.walk(root):
    for name in files:
        if not name.endswith('.xlsx'): continue
        path = os.path.join(folder, name)
        book = openpyxl.load_workbook(path)
        for sheet in book.worksheets + book.chartsheets:
            value = sheet['A1'].value if hasattr(sheet, 'cell') else None
            line = os.path.relpath(path, root) + '\t' + sheet.title + '\t' + ('' if value is None else str(value)) + '\n'
            sys.stdout.buffer.write(line.encode('utf-8'))
)",
                                       {folder.string()});
  std::map<std::string, Sheets> books;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto first = line.find('\t');
    const auto second = line.find('\t', first + 1);
    books[line.substr(0, first)].emplace_back(line.substr(first + 1, second - first - 1),
                                              line.substr(second + 1));
  }
  return books;
}

// Every entry under folder, relative to it, sorted; folders end with "/".
inline std::vector<std::string> Tree(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    names.push_back(std::filesystem::relative(entry.path(), folder).string() +
                    (entry.is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tabrend::test
