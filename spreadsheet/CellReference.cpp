// A1 cell references against the format's grid.
#include "spreadsheet/CellReference.h"

#include <algorithm>

#include "spreadsheet/Limits.h"

namespace tabrend::spreadsheet {

std::size_t ReadColumn(std::string_view text, std::uint32_t& column) {
  std::size_t letters = 0;
  column = 0;
  // ASCII letters written out: the <cctype> tests go through the locale, and every cell asks.
  for (; letters < text.size(); ++letters) {
    const char c = text[letters];
    std::uint32_t digit = 0;
    if (c >= 'A' && c <= 'Z') digit = static_cast<std::uint32_t>(c - 'A' + 1);
    else if (c >= 'a' && c <= 'z') digit = static_cast<std::uint32_t>(c - 'a' + 1);
    else break;
    column = std::min(column * 26 + digit, limits::kMaxColumns + 1);
  }
  return letters;
}

namespace {

// One pass (find_first_not_of would call memchr per character): every cell asks this.
bool AllDigits(std::string_view text) {
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

bool RowOutsideGrid(std::string_view number) {
  if (number.empty() || !AllDigits(number)) return false;
  std::uint64_t row = 0;
  for (const char c : number) row = std::min<std::uint64_t>(row * 10 + static_cast<std::uint64_t>(c - '0'), limits::kMaxRows + 1);
  return row == 0 || row > limits::kMaxRows;
}

bool CellOutsideGrid(std::string_view reference) {
  // The common case at a glance: one or two letters and up to six digits, the first not 0,
  // lie inside the grid.
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (reference.size() >= 2 && reference.size() <= 8 && letter(reference[0])) {
    const std::size_t letters = letter(reference[1]) ? 2 : 1;
    const std::string_view row = reference.substr(letters);
    if (!row.empty() && row.size() <= 6 && row[0] != '0' && AllDigits(row)) return false;
  }
  std::uint32_t column = 0;
  const std::size_t letters = ReadColumn(reference, column);
  const std::string_view row = reference.substr(letters);
  if (letters == 0 || row.empty() || !AllDigits(row)) return false;
  return column > limits::kMaxColumns || RowOutsideGrid(row);
}

std::string OutsideGridMessage(const std::string& what) {
  return what + " lies outside the grid of " + std::to_string(limits::kMaxRows) + " rows and " +
         std::to_string(limits::kMaxColumns) + " columns";
}

}  // namespace tabrend::spreadsheet
