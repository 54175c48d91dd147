// Strict namespaces and relationship types in their Transitional form.
#include "spreadsheet/StrictMarkup.h"

#include <array>
#include <utility>

#include "core/Error.h"
#include "spreadsheet/CellRecord.h"

namespace tabrend::spreadsheet {

namespace {

// ISO/IEC 29500-1, Strict namespace -> Transitional namespace.
constexpr std::array<std::pair<std::string_view, std::string_view>, 21> kNamespaces = {{
    {"http://purl.oclc.org/ooxml/spreadsheetml/main", "http://schemas.openxmlformats.org/spreadsheetml/2006/main"},
    {"http://purl.oclc.org/ooxml/officeDocument/relationships",
     "http://schemas.openxmlformats.org/officeDocument/2006/relationships"},
    {"http://purl.oclc.org/ooxml/officeDocument/extendedProperties",
     "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties"},
    {"http://purl.oclc.org/ooxml/officeDocument/customProperties",
     "http://schemas.openxmlformats.org/officeDocument/2006/custom-properties"},
    {"http://purl.oclc.org/ooxml/officeDocument/docPropsVTypes",
     "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes"},
    {"http://purl.oclc.org/ooxml/officeDocument/sharedTypes",
     "http://schemas.openxmlformats.org/officeDocument/2006/sharedTypes"},
    {"http://purl.oclc.org/ooxml/officeDocument/customXml", "http://schemas.openxmlformats.org/officeDocument/2006/customXml"},
    {"http://purl.oclc.org/ooxml/officeDocument/bibliography",
     "http://schemas.openxmlformats.org/officeDocument/2006/bibliography"},
    {"http://purl.oclc.org/ooxml/officeDocument/math", "http://schemas.openxmlformats.org/officeDocument/2006/math"},
    {"http://purl.oclc.org/ooxml/schemaLibrary/main", "http://schemas.openxmlformats.org/schemaLibrary/2006/main"},
    {"http://purl.oclc.org/ooxml/wordprocessingml/main", "http://schemas.openxmlformats.org/wordprocessingml/2006/main"},
    {"http://purl.oclc.org/ooxml/presentationml/main", "http://schemas.openxmlformats.org/presentationml/2006/main"},
    {"http://purl.oclc.org/ooxml/drawingml/main", "http://schemas.openxmlformats.org/drawingml/2006/main"},
    {"http://purl.oclc.org/ooxml/drawingml/chart", "http://schemas.openxmlformats.org/drawingml/2006/chart"},
    {"http://purl.oclc.org/ooxml/drawingml/chartDrawing", "http://schemas.openxmlformats.org/drawingml/2006/chartDrawing"},
    {"http://purl.oclc.org/ooxml/drawingml/diagram", "http://schemas.openxmlformats.org/drawingml/2006/diagram"},
    {"http://purl.oclc.org/ooxml/drawingml/picture", "http://schemas.openxmlformats.org/drawingml/2006/picture"},
    {"http://purl.oclc.org/ooxml/drawingml/lockedCanvas", "http://schemas.openxmlformats.org/drawingml/2006/lockedCanvas"},
    {"http://purl.oclc.org/ooxml/drawingml/compatibility",
     "http://schemas.openxmlformats.org/drawingml/2006/compatibility"},
    {"http://purl.oclc.org/ooxml/drawingml/spreadsheetDrawing",
     "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing"},
    {"http://purl.oclc.org/ooxml/drawingml/wordprocessingDrawing",
     "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing"},
}};

constexpr std::string_view kStrictRelationships = "http://purl.oclc.org/ooxml/officeDocument/relationships/";
constexpr std::string_view kTransitionalRelationships = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

}  // namespace

std::optional<std::string_view> TransitionalNamespace(std::string_view uri) {
  for (const auto& [strict, transitional] : kNamespaces)
    if (uri == strict) return transitional;
  return std::nullopt;
}

std::string TransitionalRelationshipType(std::string_view type) {
  if (type.rfind(kStrictRelationships, 0) != 0) return std::string(type);
  std::string_view kind = type.substr(kStrictRelationships.size());
  // The two kinds whose names differ besides their namespace.
  if (kind == "extendedProperties") kind = "extended-properties";
  else if (kind == "customProperties") kind = "custom-properties";
  return std::string(kTransitionalRelationships) + std::string(kind);
}

TransitionalSink::TransitionalSink(ByteSink& out, std::string label, std::string part)
    : out_(out), xml_(*this, std::move(label), std::move(part), XmlReader::kRaw) {}

TransitionalSink::~TransitionalSink() = default;

bool TransitionalSink::Write(std::string_view bytes) { return Parse(bytes, false) && Pass(); }

bool TransitionalSink::Finish() { return Parse({}, true) && Pass() && out_.Finish(); }

bool TransitionalSink::Parse(std::string_view bytes, bool last) {
  if (failed_) return false;
  xml_.Feed(bytes.data(), bytes.size(), last);
  return true;
}

bool TransitionalSink::Pass() {
  if (!pending_.empty() && !out_.Write(pending_)) failed_ = true;
  pending_.clear();
  return !failed_;
}

void TransitionalSink::OnStart(const XML_Char* name, const XML_Char** attributes) {
  TransitionalSink& sink = *this;
  bool strict = false;
  for (int i = 0; attributes[i] != nullptr && !strict; i += 2) strict = TransitionalNamespace(attributes[i + 1]).has_value();
  if (!strict) return xml_.PassCurrent();
  // The tag is written again: its own bytes tell whether it was an empty-element tag.
  const std::size_t before = sink.pending_.size();
  xml_.PassCurrent();
  const bool empty = sink.pending_.size() >= before + 2 && sink.pending_.compare(sink.pending_.size() - 2, 2, "/>") == 0;
  sink.pending_.resize(before);
  Attributes rebuilt;
  for (int i = 0; attributes[i] != nullptr; i += 2) {
    const auto transitional = TransitionalNamespace(attributes[i + 1]);
    rebuilt.emplace_back(attributes[i], transitional ? std::string(*transitional) : std::string(attributes[i + 1]));
  }
  AppendStartTag(sink.pending_, name, rebuilt);
  if (empty) sink.pending_.insert(sink.pending_.size() - 1, "/");
}

void TransitionalSink::OnEnd(const XML_Char*) { xml_.PassCurrent(); }

void TransitionalSink::OnRaw(const XML_Char* data, int length) { pending_.append(data, static_cast<std::size_t>(length)); }

std::string TransitionalXml(std::string_view xml, const std::string& label, const std::string& part) {
  struct Kept : ByteSink {
    std::string bytes;
    bool Write(std::string_view more) override {
      bytes += more;
      return true;
    }
    bool Finish() override { return true; }
  } kept;
  TransitionalSink sink(kept, label, part);
  if (!sink.Write(xml) || !sink.Finish()) Fail(ErrorReason::kNotWritten, label + ": part " + part + " could not be written");
  return std::move(kept.bytes);
}

}  // namespace tabrend::spreadsheet
