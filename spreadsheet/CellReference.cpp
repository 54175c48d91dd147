// A1 cell references against the format's grid.
#include "spreadsheet/CellReference.h"

#include <algorithm>

#include "spreadsheet/Limits.h"
#include "spreadsheet/Text.h"

namespace tabrend::spreadsheet {

std::size_t ReadColumn(std::string_view text, std::uint32_t& column) {
  std::size_t letters = 0;
  column = 0;
  for (; letters < text.size() && IsAsciiLetter(text[letters]); ++letters) {
    const auto digit = static_cast<std::uint32_t>(UpperAscii(text[letters]) - 'A' + 1);
    column = std::min(column * 26 + digit, limits::kMaxColumns + 1);
  }
  return letters;
}

namespace {

// One pass (find_first_not_of would call memchr per character): every cell asks this.
bool AllDigits(std::string_view text) {
  for (const char c : text)
    if (!IsAsciiDigit(c)) return false;
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
  const std::size_t size = reference.size();
  if (size >= 2 && size <= 8 && IsAsciiLetter(reference[0])) {
    const std::size_t rowStart = IsAsciiLetter(reference[1]) ? 2 : 1;
    if (rowStart < size && size - rowStart <= 6 && reference[rowStart] != '0' && AllDigits(reference.substr(rowStart)))
      return false;
  }
  std::uint32_t column = 0;
  const std::size_t letters = ReadColumn(reference, column);
  const std::string_view row = reference.substr(letters);
  if (letters == 0 || row.empty() || !AllDigits(row)) return false;
  return column > limits::kMaxColumns || RowOutsideGrid(row);
}

bool ReadGridReference(std::string_view reference, std::uint32_t& column, std::uint32_t& row) {
  const char* p = reference.data();
  const char* const end = p + reference.size();
  const char* const lettersEnd = p + std::min<std::size_t>(reference.size(), 3);
  column = 0;
  for (; p < lettersEnd && static_cast<unsigned>(*p - 'A') < 26; ++p) column = column * 26 + static_cast<std::uint32_t>(*p - 'A' + 1);
  if (column == 0 || p == end || *p == '0' || end - p > 7) return false;
  row = 0;
  for (; p < end; ++p) {
    const auto digit = static_cast<unsigned>(*p - '0');
    if (digit > 9) return false;
    row = row * 10 + digit;
  }
  return column <= limits::kMaxColumns && row <= limits::kMaxRows;
}

std::string OutsideGridMessage(const std::string& what) {
  return what + " lies outside the grid of " + std::to_string(limits::kMaxRows) + " rows and " +
         std::to_string(limits::kMaxColumns) + " columns";
}

}  // namespace tabrend::spreadsheet
