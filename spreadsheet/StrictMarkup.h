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

#include <expat.h>

#include <optional>
#include <string>
#include <string_view>

#include "spreadsheet/ByteSink.h"

namespace tabrend::spreadsheet {

// The Transitional namespace of a Strict one; nullopt for any other namespace.
std::optional<std::string_view> TransitionalNamespace(std::string_view uri);

// A relationship type in the Transitional dialect (".../officeDocument/2006/relationships/
// worksheet" for ".../ooxml/officeDocument/relationships/worksheet"); others as they are.
std::string TransitionalRelationshipType(std::string_view type);

// Passes a part on to `out` with every attribute whose value is a Strict namespace (its
// declarations above all) made Transitional. Throws
// AutomationError naming label and part when the part is not well-formed XML or declares a
// document type.
class TransitionalSink : public ByteSink {
 public:
  TransitionalSink(ByteSink& out, std::string label, std::string part);
  ~TransitionalSink() override;
  TransitionalSink(const TransitionalSink&) = delete;
  TransitionalSink& operator=(const TransitionalSink&) = delete;

  bool Write(std::string_view bytes) override;
  bool Finish() override;

 private:
  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes);
  static void XMLCALL OnEnd(void* self, const XML_Char* name);
  static void XMLCALL OnRaw(void* self, const XML_Char* data, int length);
  static void XMLCALL OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int);
  bool Parse(std::string_view bytes, bool last);
  bool Pass();

  ByteSink& out_;
  std::string label_, part_;
  XML_Parser parser_;
  std::string pending_;  // output not yet passed to out_
  bool refused_ = false;
  bool failed_ = false;  // out_ refused bytes
};

// A whole part made Transitional, as TransitionalSink does it.
std::string TransitionalXml(std::string_view xml, const std::string& label, const std::string& part);

}  // namespace tabrend::spreadsheet
