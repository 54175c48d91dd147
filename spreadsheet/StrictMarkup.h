// The parts of a Strict workbook, written as Transitional ones.
//
// An output is written in the default workbook format, the Transitional one, whatever the
// dialect of its source. The two name the same things under other namespaces and
// relationship types, one to one; Strict has one attribute Transitional lacks
// (dateCompatibility, on workbookPr). So a part of a Strict source becomes Transitional by
// its namespace declarations alone (and the attributes that name a namespace, such as a
// graphic's uri): the elements and attributes keep their prefixes, and only what each prefix
// stands for changes. Every other byte passes as it stands.
#pragma once


#include <optional>
#include <string>
#include <string_view>

#include "spreadsheet/ByteSink.h"
#include "spreadsheet/XmlReader.h"

namespace tabrend::spreadsheet {

// The Transitional namespace of a Strict one; nullopt for any other namespace.
std::optional<std::string_view> TransitionalNamespace(std::string_view uri);

// A relationship type in the Transitional dialect (".../officeDocument/2006/relationships/
// worksheet" for ".../ooxml/officeDocument/relationships/worksheet"); others as they are.
std::string TransitionalRelationshipType(std::string_view type);

// Passes a part on to `out` with every attribute whose value is a Strict namespace (its
// declarations above all) made Transitional. Throws AutomationError in XmlReader's words
// when the part cannot be read.
class TransitionalSink : public ByteSink, private XmlReader::Handler {
 public:
  TransitionalSink(ByteSink& out, std::string label, std::string part);
  ~TransitionalSink() override;
  TransitionalSink(const TransitionalSink&) = delete;
  TransitionalSink& operator=(const TransitionalSink&) = delete;

  bool Write(std::string_view bytes) override;
  bool Finish() override;

 private:
  void OnStart(const XML_Char* name, const XML_Char** attributes) override;
  void OnEnd(const XML_Char* name) override;
  void OnRaw(const XML_Char* data, int length) override;
  bool Parse(std::string_view bytes, bool last);
  bool Pass();

  ByteSink& out_;
  XmlReader xml_;
  std::string pending_;  // output not yet passed to out_
  bool failed_ = false;  // out_ refused bytes
};

// A whole part made Transitional, as TransitionalSink does it.
std::string TransitionalXml(std::string_view xml, const std::string& label, const std::string& part);

}  // namespace tabrend::spreadsheet
