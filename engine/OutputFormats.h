// The formats a sheet can be written in, one row each: the word that names it ("/format=csv"
// on the command line and in options.txt), the extension of its files, its item in the
// window's "Save as" menu, the help text of its switch, and how its files are made. Both
// programs read every format from this table; a new format is a row here and, when another
// program makes its files, that program's part in the writer.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "spreadsheet/CellReader.h"

namespace tabrend {

// What an output file holds.
enum class OutputFormat {
  kWorkbook,  // a workbook of the application's default format (.xlsx)
  kCsv,       // the sheet's cells as CSV text (.csv)
  kPdf,       // the sheet as a PDF document (.pdf)
  kOds,       // the sheet as an OpenDocument spreadsheet (.ods)
};

// How the files of a format are made.
enum class OutputWriter {
  kWorkbook,  // the sheet copied into a new workbook, saved; workers may build it ahead
  kCsv,       // the new workbook saved as CSV text
  kExport,    // the new workbook exported by LibreOffice with the batch's others, at its end
};

struct OutputFormatRow {
  OutputFormat format;
  std::string_view word;       // "/format=<word>"
  std::string_view extension;  // "" for the application's own workbook extension
  std::string_view menuLabel;  // the item of Settings > Save as, "&" before its key
  std::string_view menuName;   // that item's object name
  std::string_view usage;      // what "/format=<word>" does, as tabrendcli --help words it
  OutputWriter writer;
  // The formula results its files show, so that the results the source lacks are calculated
  // ahead for them: every formula's (its cells as text) or those a workbook output drops.
  spreadsheet::ShownResults shown;
  // kExport: LibreOffice's "--convert-to" argument, how messages name the format, and what
  // LibreOffice does to make its files ("print": prints, printed, Printing).
  std::string_view exportFilter;
  std::string_view kindName;
  std::string_view exportVerb;
};

inline constexpr std::array<OutputFormatRow, 4> kOutputFormats{{
    {OutputFormat::kWorkbook, "xlsx", "", "&Excel workbook", "SaveAsWorkbook",
     "write each sheet as a workbook (the default)", OutputWriter::kWorkbook,
     spreadsheet::ShownResults::kDroppedFormulas, "", "", ""},
    {OutputFormat::kCsv, "csv", "csv", "&CSV", "SaveAsCsv",
     "write each sheet's cells as CSV text (.csv, UTF-8, as the sheet shows\n"
     "them: number formats applied, formulas as their results)",
     OutputWriter::kCsv, spreadsheet::ShownResults::kEveryFormula, "", "", ""},
    {OutputFormat::kPdf, "pdf", "pdf", "&PDF", "SaveAsPdf",
     "print each sheet to a PDF file with its own page setup, through\nLibreOffice", OutputWriter::kExport,
     spreadsheet::ShownResults::kDroppedFormulas, "pdf:calc_pdf_Export", "PDF", "print"},
    {OutputFormat::kOds, "ods", "ods", "&OpenDocument spreadsheet", "SaveAsOds",
     "write each sheet as an OpenDocument spreadsheet (.ods), converted from\n"
     "its workbook by LibreOffice",
     OutputWriter::kExport, spreadsheet::ShownResults::kDroppedFormulas, "ods:calc8", "ODS", "convert"},
}};

// The row of format.
const OutputFormatRow& FormatRow(OutputFormat format);

// The format named word ("csv"), matched exactly; nothing for another word.
std::optional<OutputFormat> FormatNamed(std::string_view word);

// The extension of an output of format: for a workbook the one the application's version
// text gives (OutputExtension in engine/Naming.h), else the table's.
std::string OutputExtensionFor(OutputFormat format, const std::string& versionText);

}  // namespace tabrend
