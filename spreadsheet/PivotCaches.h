// Pivot tables and their caches in an output. A pivot table comes along only when its cache
// draws on a sheet, table or name the output has (otherwise its cells keep what it showed);
// its cache definition then names the source sheet by its output name, and the workbook part
// lists the cache (<pivotCaches>) with a relationship of its own.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "spreadsheet/DefinedNames.h"
#include "spreadsheet/Relationships.h"
#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::spreadsheet {

// Whether the pivot table part pivotPart draws on what the output has. Throws
// AutomationError for a cache definition it cannot read.
bool PivotDrawsOnOutput(const SourceWorkbook& source, const std::string& pivotPart, const OutputNames& names);

// The cache definition `bytes` (part cachePart) with its source sheet renamed, or nullopt
// when it needs no change.
std::optional<std::string> RewritePivotCache(const std::string& bytes, const SourceWorkbook& source,
                                             const std::string& cachePart, const OutputNames& names);

// The caches an output's pivot tables use, in the order they were carried.
class PivotCacheList {
 public:
  // Lists the cache carried from sourcePart to outputPart, once, under the id the source's
  // workbook gives it; a cache the source's workbook does not list stays unlisted.
  void Add(const SourceWorkbook& source, const std::string& sourcePart, const std::string& outputPart);
  // "<pivotCaches>...</pivotCaches>" ("" for none), numbering the caches' relationships from
  // nextId on and appending them to relationships.
  std::string Xml(std::size_t nextId, std::vector<OutputRelationship>& relationships) const;

 private:
  std::vector<std::pair<std::string, OutputRelationship>> caches_;  // cache id, relationship
};

}  // namespace tabrend::spreadsheet
