// The names the package format fixes: XML namespaces, relationship types and content types,
// each spelled once here. Relationship kinds are compared by their last segment
// (RelationshipKind), so only the types the output writes itself are listed.
#pragma once

#include <string>
#include <string_view>

namespace tabrend::spreadsheet::ooxml {

// The declaration every part the output builds itself starts with.
inline constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

// Namespaces.
inline constexpr std::string_view kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kRelationshipNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kPackageRelationshipsNamespace =
    "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view kContentTypesNamespace = "http://schemas.openxmlformats.org/package/2006/content-types";
inline constexpr std::string_view kExtendedPropertiesNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties";
inline constexpr std::string_view kDocPropsVTypesNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes";
inline constexpr std::string_view kMarkupCompatibilityNamespace =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";
// Excel 2007's pre-release format, refused on reading.
inline constexpr std::string_view kPreReleaseNamespace = "http://schemas.microsoft.com/office/excel/2006/2";

// The relationship type of a kind ("worksheet" -> ".../relationships/worksheet").
inline std::string RelationshipType(std::string_view kind) {
  return std::string(kRelationshipNamespace) + "/" + std::string(kind);
}

// The declaration and the open start tag of a part the output builds, the caller closing it:
//   PartStart("workbook", kMainNamespace, "r", kRelationshipNamespace)
//   -> "<?xml ...?>\r\n<workbook xmlns=\"...\" xmlns:r=\"...\""
inline std::string PartStart(std::string_view root, std::string_view ns, std::string_view prefix = {},
                             std::string_view prefixed = {}) {
  std::string xml(kXmlDeclaration);
  xml += '<';
  xml += root;
  xml += " xmlns=\"";
  xml += ns;
  xml += '"';
  if (!prefix.empty()) {
    xml += " xmlns:";
    xml += prefix;
    xml += "=\"";
    xml += prefixed;
    xml += '"';
  }
  return xml;
}

// Content types.
namespace type {
inline constexpr std::string_view kWorkbook = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
inline constexpr std::string_view kMacroWorkbook = "application/vnd.ms-excel.sheet.macroEnabled.main+xml";
inline constexpr std::string_view kTemplate = "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml";
inline constexpr std::string_view kMacroTemplate = "application/vnd.ms-excel.template.macroEnabled.main+xml";
inline constexpr std::string_view kBinaryWorkbook = "application/vnd.ms-excel.sheet.binary.macroEnabled.main";
inline constexpr std::string_view kWorksheet = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
inline constexpr std::string_view kSharedStrings =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
inline constexpr std::string_view kStyles = "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
inline constexpr std::string_view kTheme = "application/vnd.openxmlformats-officedocument.theme+xml";
inline constexpr std::string_view kExtendedProperties =
    "application/vnd.openxmlformats-officedocument.extended-properties+xml";
inline constexpr std::string_view kCoreProperties = "application/vnd.openxmlformats-package.core-properties+xml";
inline constexpr std::string_view kRelationships = "application/vnd.openxmlformats-package.relationships+xml";
inline constexpr std::string_view kXml = "application/xml";
inline constexpr std::string_view kUnknown = "application/octet-stream";
inline constexpr std::string_view kChart = "application/vnd.openxmlformats-officedocument.drawingml.chart+xml";
inline constexpr std::string_view kChartEx = "application/vnd.ms-office.chartex+xml";
inline constexpr std::string_view kDrawing = "application/vnd.openxmlformats-officedocument.drawing+xml";
inline constexpr std::string_view kTable = "application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml";
inline constexpr std::string_view kPivotTable =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.pivotTable+xml";
inline constexpr std::string_view kPivotCacheDefinition =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.pivotCacheDefinition+xml";
inline constexpr std::string_view kOpenDocumentSpreadsheet = "application/vnd.oasis.opendocument.spreadsheet";
}  // namespace type

}  // namespace tabrend::spreadsheet::ooxml
