#include "spreadsheet/PartKinds.h"

namespace tabrend::spreadsheet {

namespace {

constexpr PartKind kPartKinds[] = {
    {"worksheet", PartFate::kWorkbookLevel, false, "", {}},
    {"chartsheet", PartFate::kWorkbookLevel, false, "", {}},
    {"dialogsheet", PartFate::kWorkbookLevel, false, "", {}},
    {"xlMacrosheet", PartFate::kWorkbookLevel, false, "", {}},
    {"xlIntlMacrosheet", PartFate::kWorkbookLevel, false, "", {}},
    {"officeDocument", PartFate::kWorkbookLevel, false, "", {}},
    {"externalLink", PartFate::kWorkbookLevel, false, "", {}},
    {"calcChain", PartFate::kWorkbookLevel, false, "", {}},
    {"vbaProject", PartFate::kWorkbookLevel, false, "", {}},
    {"sharedStrings", PartFate::kWorkbookLevel, false, "", {}},
    {"styles", PartFate::kWorkbookLevel, false, "", {}},
    // Slicers and timelines work through the workbook's slicer caches, which no copy carries.
    {"slicer", PartFate::kDropped, false, "",
     {"{A8765BA9-456A-4dab-B4F3-ACF838C121DE}", "{3A4CF648-6AED-40f4-86FF-DC5316D8AED3}"}},
    {"timeline", PartFate::kDropped, false, "", {"{7E03D99C-DC04-49d9-9315-930204A7B6E9}"}},
    {"drawing", PartFate::kCarried, true, "", {}},
    {"vmlDrawing", PartFate::kCarried, true, "", {}},
    {"comments", PartFate::kCarried, true, "", {}},
    {"threadedComment", PartFate::kCarried, true, "person", {}},
    {"table", PartFate::kCarried, true, "", {}},
    {"pivotTable", PartFate::kCarried, true, "", {}},
    {"oleObject", PartFate::kCarried, true, "", {}},
    {"control", PartFate::kCarried, true, "", {}},
    {"image", PartFate::kCarried, true, "", {}},
    {"person", PartFate::kCompanion, false, "", {}},
};

}  // namespace

const PartKind* PartKindNamed(std::string_view kind) {
  for (const PartKind& row : kPartKinds)
    if (row.kind == kind) return &row;
  return nullptr;
}

bool IsDroppedExtension(std::string_view uri) {
  for (const PartKind& row : kPartKinds)
    if (row.fate == PartFate::kDropped)
      for (const std::string_view owned : row.extensionUris)
        if (!owned.empty() && owned == uri) return true;
  return false;
}

bool IsMetadataKind(std::string_view kind) {
  return kind == "sheetMetadata" || kind.rfind("rd", 0) == 0 || kind.rfind("richValue", 0) == 0;
}

}  // namespace tabrend::spreadsheet
