// What a split does with each kind of part, named by the relationship that reaches it (the
// last segment of its type: "drawing", "comments"). One row per kind the split treats in a
// way of its own; any other kind a sheet uses is carried with the sheet.
#pragma once

#include <array>
#include <string_view>

namespace tabrend::spreadsheet {

enum class PartFate {
  kCarried,        // copied with the sheet that uses it
  kWorkbookLevel,  // a sheet, the workbook or a part of its own: never carried from a sheet
  kDropped,        // left out unreported: it only works with workbook parts no copy carries
  kCompanion,      // a workbook part carried only when a carried part needs it
};

struct PartKind {
  std::string_view kind;
  PartFate fate;
  // A sheet using a part of this kind shows something, whatever its cells hold.
  bool showsContent;
  // The workbook part a carried part of this kind needs beside it ("person": the authors of
  // threaded comments).
  std::string_view companion;
  // The sheet's extension blocks (their uri) that belong to parts of this kind, and go with
  // them.
  std::array<std::string_view, 2> extensionUris;
};

// The row of kind; nullptr for a kind carried with its sheet like any other.
const PartKind* PartKindNamed(std::string_view kind);

inline PartFate FateOf(std::string_view kind) {
  const PartKind* row = PartKindNamed(kind);
  return row != nullptr ? row->fate : PartFate::kCarried;
}
inline bool ShowsContent(std::string_view kind) {
  const PartKind* row = PartKindNamed(kind);
  return row != nullptr && row->showsContent;
}
// Whether an extension block of a sheet belongs to a kind of part that is dropped.
bool IsDroppedExtension(std::string_view uri);
// The workbook's metadata parts (cell and value metadata, rich values): carried when a
// carried cell points into them. Their kinds come in families ("rdRichValue...", "richValue...").
bool IsMetadataKind(std::string_view kind);

}  // namespace tabrend::spreadsheet
