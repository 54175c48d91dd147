// The one set-up of expat for the parts the engine streams, and the words of its failures.
#include "spreadsheet/XmlReader.h"

#include "spreadsheet/Limits.h"
#include "spreadsheet/Package.h"

namespace tabrend::spreadsheet {

void FailNotWellFormed(const std::string& where, const std::string& part, const std::string& detail) {
  Fail(ErrorReason::kDamaged, where + ": part " + part + " is not well-formed XML (" + detail + ")");
}

void FailDocumentType(const std::string& where, const std::string& part) {
  Fail(ErrorReason::kRefused,
       where + " is refused: part " + part + " declares a document type (entities are not allowed)");
}

void FailTooDeep(const std::string& where, const std::string& part) {
  Fail(ErrorReason::kRefused, where + " is refused: part " + part + " nests elements deeper than " +
                                  std::to_string(limits::kMaxXmlDepth) + " levels");
}

void FailOutOfMemory(const std::string& where, const std::string& part) {
  Fail(ErrorReason::kRefused, where + ": part " + part + " cannot be read: out of memory");
}

XmlReader::XmlReader(Handler& handler, std::string where, std::string part, unsigned events)
    : handler_(handler), where_(std::move(where)), part_(std::move(part)), parser_(XML_ParserCreate(nullptr)) {
  if (parser_ == nullptr) FailOutOfMemory(where_, part_);
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, &XmlReader::Start, &XmlReader::End);
  if ((events & kText) != 0) XML_SetCharacterDataHandler(parser_, &XmlReader::Text);
  if ((events & kRaw) != 0) XML_SetDefaultHandler(parser_, &XmlReader::Raw);
  XML_SetStartDoctypeDeclHandler(parser_, &XmlReader::Doctype);
}

XmlReader::~XmlReader() { XML_ParserFree(parser_); }

void XmlReader::Feed(const char* data, std::size_t length, bool last) {
  if (stopped_) return;
  if (XML_Parse(parser_, data, static_cast<int>(length), last ? XML_TRUE : XML_FALSE) != XML_STATUS_ERROR) return;
  if (aborted_) Fail(reason_, description_);
  if (stopped_) return;
  if (XML_GetErrorCode(parser_) == XML_ERROR_NO_MEMORY) FailOutOfMemory(where_, part_);
  FailNotWellFormed(where_, part_,
                    "line " + std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " +
                        XML_ErrorString(XML_GetErrorCode(parser_)));
}

void XmlReader::Read(const Package& package) {
  package.Zip().StreamWhile(package.IndexOf(part_), [&](const char* data, std::size_t length) {
    Feed(data, length, false);
    return !stopped_;
  });
  Feed("", 0, true);
}

void XmlReader::Stop() {
  if (stopped_ || aborted_) return;
  stopped_ = true;
  XML_StopParser(parser_, XML_FALSE);
}

void XmlReader::Abort(ErrorReason reason, std::string description) {
  if (stopped_ || aborted_) return;
  aborted_ = true;
  reason_ = reason;
  description_ = std::move(description);
  XML_StopParser(parser_, XML_FALSE);
}

void XmlReader::Refuse(const std::string& problem) {
  Abort(ErrorReason::kRefused, where_ + " is refused: part " + part_ + " " + problem);
}

void XMLCALL XmlReader::Start(void* self, const XML_Char* name, const XML_Char** attributes) {
  auto& reader = *static_cast<XmlReader*>(self);
  if (++reader.depth_ > limits::kMaxXmlDepth)
    return reader.Refuse("nests elements deeper than " + std::to_string(limits::kMaxXmlDepth) + " levels");
  reader.handler_.OnStart(name, attributes);
}

void XMLCALL XmlReader::End(void* self, const XML_Char* name) {
  auto& reader = *static_cast<XmlReader*>(self);
  --reader.depth_;
  reader.handler_.OnEnd(name);
}

void XMLCALL XmlReader::Text(void* self, const XML_Char* text, int length) {
  static_cast<XmlReader*>(self)->handler_.OnText(text, length);
}

void XMLCALL XmlReader::Raw(void* self, const XML_Char* data, int length) {
  static_cast<XmlReader*>(self)->handler_.OnRaw(data, length);
}

void XMLCALL XmlReader::Doctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  auto& reader = *static_cast<XmlReader*>(self);
  reader.Refuse("declares a document type (entities are not allowed)");
}

XmlPieceCheck::~XmlPieceCheck() {
  if (parser_ != nullptr) XML_ParserFree(parser_);
}

bool XmlPieceCheck::WellFormed(const char* data, std::size_t length) {
  if (parser_ == nullptr) {
    parser_ = XML_ParserCreate(nullptr);
    if (parser_ == nullptr) return false;  // the slow way says it
  } else {
    XML_ParserReset(parser_, nullptr);
  }
  depth_ = 0;
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, &XmlPieceCheck::Start, &XmlPieceCheck::End);
  XML_SetStartDoctypeDeclHandler(parser_, &XmlPieceCheck::Doctype);
  return XML_Parse(parser_, data, static_cast<int>(length), XML_TRUE) == XML_STATUS_OK;
}

void XMLCALL XmlPieceCheck::Start(void* self, const XML_Char*, const XML_Char**) {
  auto& check = *static_cast<XmlPieceCheck*>(self);
  if (++check.depth_ > limits::kMaxXmlDepth) XML_StopParser(check.parser_, XML_FALSE);
}

void XMLCALL XmlPieceCheck::End(void* self, const XML_Char*) { --static_cast<XmlPieceCheck*>(self)->depth_; }

void XMLCALL XmlPieceCheck::Doctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  XML_StopParser(static_cast<XmlPieceCheck*>(self)->parser_, XML_FALSE);
}

}  // namespace tabrend::spreadsheet
