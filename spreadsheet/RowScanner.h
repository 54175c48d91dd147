// The fast path of the sheet copy: the rows of <sheetData>, which hold nearly all of a sheet's
// bytes, follow a regular shape that this scanner reads several times faster than expat.
// Everything before the rows goes to expat; so does everything from the first row the scanner
// does not recognise (comments, unknown elements, odd entities, malformed markup), from that
// row on. Either way each cell reaches the same FinishCell with the same CellRecord, so the
// output does not depend on which path read it.
#pragma once

#include <expat.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "spreadsheet/CellRecord.h"

namespace tabrend::spreadsheet {

class RowScanner {
 public:
  // What the scanner needs from the stream it reads for.
  class Host {
   public:
    // Parses bytes with expat (the slow path).
    virtual void Parse(const char* data, std::size_t length, bool last) = 0;
    // Whether rows the scanner may take follow the <sheetData> start tag expat has just read.
    virtual bool RowsMayFollow() const = 0;
    // Writes the cell in `cell` to out.
    virtual void FinishCell(std::string& out) = 0;
    // A row was appended to the output: a chance to pass it on.
    virtual void RowWritten() = 0;
    // Refuses the part: throws AutomationError naming the sheet and the problem.
    [[noreturn]] virtual void Refuse(const std::string& problem) = 0;

   protected:
    ~Host() = default;
  };

  // Scanned cells go to cell, the scanned rows' output to out.
  RowScanner(Host& host, CellRecord& cell, std::string& out) : host_(host), cell_(cell), out_(out) {}
  ~RowScanner();
  RowScanner(const RowScanner&) = delete;
  RowScanner& operator=(const RowScanner&) = delete;

  // The next piece of the part, in order; last for the final one.
  void Feed(const char* data, std::size_t length, bool last);

 private:
  enum class Mode { kBeforeRows, kRows, kExpat };

  void HandToExpat(std::size_t from, bool last);
  std::size_t TagEnd(std::size_t from, std::size_t limit) const;
  bool StartsTag(std::size_t at, const std::string& name, std::size_t limit) const;
  void FindRows(bool last);
  void TakeNames(const std::string& sheetDataName);
  void ScanRows(bool last);
  bool ParseAttributes(std::size_t from, std::size_t end, Attributes& into);
  bool TextChild(std::size_t& at, std::size_t limit, const std::string& name, Attributes& attributes, std::string& text);
  bool WellFormed(std::string_view body);
  bool RawChild(std::size_t& at, std::size_t limit, const std::string& name);
  bool ScanCells(std::size_t from, std::size_t limit);

  Host& host_;
  CellRecord& cell_;
  std::string& out_;
  Mode mode_ = Mode::kBeforeRows;
  std::string pending_;  // bytes not yet handled
  std::size_t searchFrom_ = 0;
  std::string sheetDataEnd_, rowName_, rowEnd_, cellEnd_, inlineName_, extensionName_;
  Attributes rowAttributes_;
  std::string rowOut_;
  XML_Parser fragment_ = nullptr;  // checks children the scanner copies whole
  int fragmentDepth_ = 0;
};

// Decodes the predefined and numeric entities as expat does; false for anything else (expat
// judges it). Line ends written as such read as "\n" (CR LF and a lone CR too); in an
// attribute value they and tabs read as a space. A character reference stays what it names:
// "&#10;" in an attribute is a line break.
bool DecodeXmlText(std::string_view text, std::string& out, bool attribute = false);

}  // namespace tabrend::spreadsheet
