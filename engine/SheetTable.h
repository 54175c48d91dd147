// SheetTable: the sheet names and ticks the person left in the sheet list, per workbook of the
// current source, so that moving between workbooks keeps them and the split honours them.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tabrend {

// Entries are addressed by workbook (its number in the workbook list, 0 to kMaxWorkbooks) and
// sheet (its number in the workbook, 0 to kMaxSheets). Every entry starts empty: no name, not
// ticked. Only workbooks whose sheets were stored take room, and each only as far as its
// highest stored sheet.
//
// A workbook "holds choices" when the name of its sheet 1 is not empty; only then does the
// split follow the stored ticks and names.
class SheetTable {
 public:
  static constexpr int kMaxWorkbooks = 500;
  static constexpr int kMaxSheets = 5000;

  // Throw AutomationError (kSubscriptOutOfRange) for a workbook or sheet outside its range.
  const std::string& Name(int workbook, int sheet) const;
  bool Ticked(int workbook, int sheet) const;
  void Store(int workbook, int sheet, const std::string& name, bool ticked);

  bool HoldsChoices(int workbook) const { return !Name(workbook, 1).empty(); }

  // Empties every entry.
  void Clear() { books_.clear(); }

 private:
  struct Entry {
    std::string name;
    bool ticked = false;
  };
  const Entry* Find(int workbook, int sheet) const;

  std::map<int, std::vector<Entry>> books_;  // workbook -> entries of sheets 0, 1, 2...
};

}  // namespace tabrend
