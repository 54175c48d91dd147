// The workbook part of an output ("xl/workbook.xml"): the source's workbook properties,
// protection, view and calculation settings around the output's own sheet list, defined
// names and pivot caches. The source's Markup Compatibility declarations stay with the view
// attributes that need them (xr2:uid...); a Strict source's settings are written as
// Transitional ones.
#pragma once

#include <string>
#include <vector>

#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::spreadsheet {

struct WorkbookPartContent {
  const SourceWorkbook* source = nullptr;  // nullptr: a new workbook, with defaults
  std::vector<std::string> sheetNames;     // sheet i is reached by relationship "rId<i+1>"
  std::size_t activeSheet = 0;
  std::string definedNames;  // "<definedNames>...</definedNames>" or ""
  std::string pivotCaches;   // "<pivotCaches>...</pivotCaches>" or ""
};

std::string WorkbookPartXml(const WorkbookPartContent& content);

// The namespace declarations and Markup Compatibility attributes (" xmlns:x=\"...\"
// mc:Ignorable=\"x\"", as SourceWorkbook::WorkbookNamespaces gives them) other than the
// default and "r" declarations, which the output makes itself.
std::string ExtraNamespaces(const std::string& declarations);

}  // namespace tabrend::spreadsheet
