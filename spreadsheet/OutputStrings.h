// The output's shared-string table (xl/sharedStrings.xml): only the strings its sheets use,
// in order of first use, plus the texts of formula results kept as values.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "spreadsheet/ByteSink.h"
#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::spreadsheet {

class OutputStrings {
 public:
  // source: the table the sheets' indexes refer to; nullptr when there is none.
  explicit OutputStrings(const SharedStrings* source) : source_(source) {}
  // New index of source string `index`; throws std::out_of_range for a missing one.
  std::uint32_t Use(std::uint32_t index);
  // Index of a plain text (a formula's cached string kept as a value).
  std::uint32_t AddText(const std::string& text);
  // How many uses were counted; RestoreUses takes the count back to such a mark before a
  // sheet is copied again (its strings are then used again, in the same order).
  std::uint64_t Uses() const { return references_; }
  void RestoreUses(std::uint64_t mark) { references_ = mark; }
  bool Empty() const { return items_.empty(); }
  // Writes the table's part. Throws AutomationError when the sink refuses a write.
  void WriteXml(ByteSink& out) const;

 private:
  static constexpr std::uint32_t kAddedText = 1u << 31;
  // The part is written in pieces of about this size, so a large table is never held twice.
  static constexpr std::size_t kFlushBytes = 1u << 20;

  const SharedStrings* source_;
  // Output index + 1 of each source string used, 0 for one not used: 4 bytes a string
  // instead of a hash entry, as a big table has millions.
  std::vector<std::uint32_t> bySourceIndex_;
  std::unordered_map<std::string, std::uint32_t> byText_;
  // Each output entry: a source index, or kAddedText | position in addedTexts_. A deque grows
  // without a second copy of itself, as a vector's doubling would make.
  std::deque<std::uint32_t> items_;
  std::vector<std::string> addedTexts_;  // raw <si> elements of texts added
  std::uint64_t references_ = 0;
};

}  // namespace tabrend::spreadsheet
