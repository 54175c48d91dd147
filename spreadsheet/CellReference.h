// A1 cell references as the sheet parts write them ("B7", "$XFD$1048576"), against the
// format's grid of limits::kMaxRows rows and limits::kMaxColumns columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tabrend::spreadsheet {

// Reads the column letters at the start of text, ignoring case ("ab12" -> 28), into column;
// returns how many letters it read (0: none, column is then 0). A column past the grid reads
// as limits::kMaxColumns + 1, however many letters it has.
std::size_t ReadColumn(std::string_view text, std::uint32_t& column);

// Whether a row number ("1048577", "0") lies outside the grid; text of another shape is not
// judged here (false).
bool RowOutsideGrid(std::string_view number);
// Whether a cell reference ("XFE1", "A0") lies outside the grid; text of another shape is not
// judged here (false).
bool CellOutsideGrid(std::string_view reference);
// The column and row of a reference in the shape nearly every cell writes, one to three
// capital letters and one to seven digits not starting with 0, when it lies inside the grid;
// false for any other reference, which ReadColumn and CellOutsideGrid then judge.
bool ReadGridReference(std::string_view reference, std::uint32_t& column, std::uint32_t& row);
// "<what> lies outside the grid of 1048576 rows and 16384 columns".
std::string OutsideGridMessage(const std::string& what);

}  // namespace tabrend::spreadsheet
