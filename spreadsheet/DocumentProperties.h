// The document properties of an output: "docProps/app.xml" (extended properties: producing
// application, sheet titles) built anew, and the source's "docProps/core.xml" carried as is.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::spreadsheet {

// The application that wrote a workbook and its version, as its extended properties say.
struct Producer {
  std::string application, version;  // "" when not said
};

// The source's producer, or for a new workbook (source nullptr) the spreadsheet program's own.
// The output keeps it: spreadsheet programs decide from it whether the cached formula results
// can be trusted or must be recalculated on load. Throws AutomationError for a malformed part.
Producer ProducerOf(const SourceWorkbook* source);

// The extended-properties part of a workbook with these sheets, in order.
std::string ExtendedPropertiesXml(const Producer& producer, const std::vector<std::string>& sheetNames);

// The source's relationship to its core-properties part, when it has that part.
std::optional<Relationship> CoreProperties(const SourceWorkbook& source);

}  // namespace tabrend::spreadsheet
