// The parts a new workbook has where no source provides them: an empty worksheet and the
// minimal styles part every spreadsheet program accepts.
#pragma once

#include <string>

namespace tabrend::spreadsheet {

// An empty worksheet part; selected: the output's active sheet.
std::string BlankSheetXml(bool selected);
// A styles part with one font, the two fills every package has, one border and one format.
std::string DefaultStylesXml();

}  // namespace tabrend::spreadsheet
