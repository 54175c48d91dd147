// Streaming XML reading: every part the engine streams through expat is read by one XmlReader,
// which sets the parser up the same way each time and answers for what no part of a
// workbook may do. It refuses a document type declaration outright (no workbook part has
// one, and entities are how XML attacks a reader), refuses elements nested deeper than
// limits::kMaxXmlDepth, and words every failure the same way, naming where the part was
// read ("'Book.xlsx'", "'Book.xlsx': sheet 'Data'") and the part:
//   "<where>: part <part> is not well-formed XML (line L: reason)"                  kDamaged
//   "<where> is refused: part <part> declares a document type (entities are not allowed)"
//   "<where> is refused: part <part> nests elements deeper than 256 levels"        kRefused
//   "<where>: part <part> cannot be read: out of memory"                             kRefused
// Parts read whole into a document tree (ParseXml) fail with the same words.
#pragma once

#include <expat.h>

#include <cstddef>
#include <string>

#include "core/Error.h"

namespace tabrend::spreadsheet {

class Package;

[[noreturn]] void FailNotWellFormed(const std::string& where, const std::string& part, const std::string& detail);
[[noreturn]] void FailDocumentType(const std::string& where, const std::string& part);
[[noreturn]] void FailTooDeep(const std::string& where, const std::string& part);
[[noreturn]] void FailOutOfMemory(const std::string& where, const std::string& part);

class XmlReader {
 public:
  // What the reader calls back with. Names are qualified as the part writes them ("x:c").
  class Handler {
   public:
    virtual void OnStart(const XML_Char* name, const XML_Char** attributes) = 0;
    virtual void OnEnd(const XML_Char* name) = 0;
    // Character data; only with Events::kText.
    virtual void OnText(const XML_Char*, int) {}
    // The part's own bytes of each event passed on (PassCurrent), and, without kText, of
    // its character data; only with Events::kRaw.
    virtual void OnRaw(const XML_Char*, int) {}

   protected:
    ~Handler() = default;
  };
  enum Events : unsigned { kElements = 0, kText = 1, kRaw = 2 };

  XmlReader(Handler& handler, std::string where, std::string part, unsigned events = kText);
  ~XmlReader();
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  // The next piece of the part; last for the final one. Throws AutomationError as above, or
  // as the handler aborted. After Stop, what comes is not read.
  void Feed(const char* data, std::size_t length, bool last);
  // The whole part from package, until the handler stops the reading.
  void Read(const Package& package);

  // The handler has what it needs: the rest of the part is not read, and no error follows.
  void Stop();
  bool Stopped() const { return stopped_; }
  // The handler refuses the part: Feed throws "<where> is refused: part <part> <problem>".
  void Refuse(const std::string& problem);
  // The handler found the part wrong in a way of its own: Feed throws description.
  void Abort(ErrorReason reason, std::string description);

  // Passes the bytes of the event being handled to OnRaw, as the part has them.
  void PassCurrent() { XML_DefaultCurrent(parser_); }
  const std::string& Where() const { return where_; }
  const std::string& Part() const { return part_; }

 private:
  static void XMLCALL Start(void* self, const XML_Char* name, const XML_Char** attributes);
  static void XMLCALL End(void* self, const XML_Char* name);
  static void XMLCALL Text(void* self, const XML_Char* text, int length);
  static void XMLCALL Raw(void* self, const XML_Char* data, int length);
  static void XMLCALL Doctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int);

  Handler& handler_;
  std::string where_, part_;
  XML_Parser parser_;
  int depth_ = 0;
  bool stopped_ = false;
  bool aborted_ = false;
  ErrorReason reason_ = ErrorReason::kDamaged;
  std::string description_;
};

// Whether a piece of a part that its reader copies without reading it (a cell's inline
// string, an extension block) is well-formed XML on its own, with no document type and
// elements nested no deeper than limits::kMaxXmlDepth. One parser, set up once, serves every
// piece; a piece that fails is read again the slow way, whose XmlReader says what is wrong.
class XmlPieceCheck {
 public:
  XmlPieceCheck() = default;
  ~XmlPieceCheck();
  XmlPieceCheck(const XmlPieceCheck&) = delete;
  XmlPieceCheck& operator=(const XmlPieceCheck&) = delete;

  bool WellFormed(const char* data, std::size_t length);

 private:
  static void XMLCALL Start(void* self, const XML_Char*, const XML_Char**);
  static void XMLCALL End(void* self, const XML_Char*);
  static void XMLCALL Doctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int);

  XML_Parser parser_ = nullptr;
  int depth_ = 0;
};

}  // namespace tabrend::spreadsheet
