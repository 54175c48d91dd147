// One worksheet of a source package as CSV text: each cell as the sheet shows it (number
// formats applied, formulas as their stored results, booleans TRUE/FALSE, errors as stored),
// UTF-8 without a byte-order mark, comma separated, quoted where RFC 4180 needs it, CR LF
// after every row.
//
// The text covers the rectangle from A1 to the last row and the last column that hold a
// value, a note or a sparkline, as LibreOffice's CSV export does: every row has the same number
// of fields. A formula saved without its result, and every formula of a workbook whose results
// are placeholders (SourceWorkbook::ResultsArePlaceholders), with the rest of its range for an
// array formula, shows what the source's ResultCalculator makes of it; without a result from it
// the cell stays empty, or shows its placeholder, and the report says so. A merged area shows its value in its top-left cell, as the sheet stores it. Strings
// show with their "_xHHHH_" escapes decoded. The sheet part is streamed once; the rows wait,
// beyond a few megabytes in a temporary file, until the rectangle's width is known, so memory
// stays flat whatever the sheet's size. Only calculated results take a second read.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::spreadsheet {

// Receives the text in pieces, in order.
using CsvSink = std::function<void(std::string_view)>;

// Streams worksheet sheetIndex of source to sink. Returns what the text could not show as
// the sheet shows it, as lines of the loss report ("3 cells of formulas saved without a result
// are empty: ..."). Throws AutomationError naming the file, part and sheet for a part that is
// not well-formed, as the copy does.
std::vector<std::string> WriteCsv(const SourceWorkbook& source, std::size_t sheetIndex, const CsvSink& sink);

// Writes the text into path's own file (created, or emptied when it stands), with nothing beside
// it; a failed write removes it. Returns what WriteCsv returns. Throws AutomationError naming
// the file.
std::vector<std::string> WriteCsvFile(const SourceWorkbook& source, std::size_t sheetIndex, const std::string& path);

// Writes the text of a blank sheet (one empty line) to path in the same way.
void WriteBlankCsvFile(const std::string& path);

// One field as CSV writes it: quoted, with inner quotes doubled, when it holds a comma, a
// quote or a line break.
std::string CsvField(std::string_view text);

}  // namespace tabrend::spreadsheet
