// SheetTable: sparse storage with the bounds of the full table.
#include "engine/SheetTable.h"

#include "engine/Automation.h"

namespace tabrend {

namespace {

void CheckBounds(int workbook, int sheet) {
  if (workbook < 0 || workbook > SheetTable::kMaxWorkbooks || sheet < 0 ||
      sheet > SheetTable::kMaxSheets) {
    Fail(kSubscriptOutOfRange,
         "Subscript out of range: the sheet choices hold no entry for workbook " +
         std::to_string(workbook) + ", sheet " + std::to_string(sheet));
  }
}

const std::string kEmpty;

}  // namespace

const SheetTable::Entry* SheetTable::Find(int workbook, int sheet) const {
  CheckBounds(workbook, sheet);
  const auto book = books_.find(workbook);
  if (book == books_.end() || static_cast<std::size_t>(sheet) >= book->second.size()) return nullptr;
  return &book->second[sheet];
}

const std::string& SheetTable::Name(int workbook, int sheet) const {
  const Entry* entry = Find(workbook, sheet);
  return entry != nullptr ? entry->name : kEmpty;
}

bool SheetTable::Ticked(int workbook, int sheet) const {
  const Entry* entry = Find(workbook, sheet);
  return entry != nullptr && entry->ticked;
}

void SheetTable::Store(int workbook, int sheet, const std::string& name, bool ticked) {
  CheckBounds(workbook, sheet);
  auto& entries = books_[workbook];
  if (static_cast<std::size_t>(sheet) >= entries.size()) entries.resize(sheet + 1);
  entries[sheet] = Entry{name, ticked};
}

}  // namespace tabrend
