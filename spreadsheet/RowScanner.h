// The fast path of reading a worksheet part: the rows of <sheetData>, which hold nearly all of
// a sheet's bytes, follow a regular shape that this scanner reads several times faster than
// expat. It serves two hosts: the sheet copy (SheetStream), which writes the rows it reads, and
// the CSV writer, which shows their cells. Everything before the rows goes to the host's expat
// parser; so does everything from the first row the scanner or its host does not take
// (comments, unknown elements, odd entities, malformed markup), from that row on. Either way
// the host treats each cell by the same rules, so the output does not depend on which path
// read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/CellRecord.h"
#include "spreadsheet/XmlReader.h"

namespace tabrend::spreadsheet {

// A cell of the plainest shape, seen in place: <c a="v" ...> with attributes one blank apart
// in double quotes, then optionally <f>text</f> and <v>text</v> without attributes, then
// </c>; or <c a="v" .../>. Every byte is printable ASCII that neither decoding nor escaping
// changes, so the cell written back from its parts gives its own bytes. Nearly every cell of
// a real sheet has this shape.
struct PlainCell {
  std::string_view raw;              // the whole element
  std::string_view startTag;         // "<c ...>", or the whole element when it is empty
  std::string_view reference, type, style;  // the values of r, t and s; empty when absent
  std::string_view formula, value;   // the texts of <f> and <v>
  bool hasFormula = false, hasValue = false;
  bool hasMetadata = false;      // cm or vm
  bool otherAttributes = false;  // any but r, s, t, cm, vm and ph
};

class RowScanner {
 public:
  // What the scanner needs from the stream it reads for.
  class Host {
   public:
    // Parses bytes with expat (the slow path).
    virtual void Parse(const char* data, std::size_t length, bool last) = 0;
    // Whether rows the scanner may take follow the <sheetData> start tag expat has just read.
    virtual bool RowsMayFollow() const = 0;
    // A row the scanner takes, with its attributes, before its cells.
    virtual void RowStarted(const Attributes& attributes) = 0;
    // The row last started goes to expat after all, from its start tag: what the host did
    // for it will be done again.
    virtual void RowTakenBack() = 0;
    // Writes the cell in `cell` to out; false to have expat read the row instead.
    virtual bool FinishCell(std::string& out) = 0;
    // How a plain cell goes on: as it is written (the scanner copies it, with the bytes around
    // it, in one run), rewritten by WritePlainCell, or read whole and given to FinishCell.
    enum class PlainFate { kAsWritten, kRewritten, kReadWhole };
    virtual PlainFate TakePlainCell(const PlainCell& cell) = 0;
    virtual void WritePlainCell(const PlainCell& cell, std::string& out) = 0;
    // A row was appended to the output: a chance to pass it on.
    virtual void RowWritten() = 0;
    // The scanner takes the rows from here, or hands them back to expat. While it takes them,
    // the host is told the styles they name: in plain cells as it takes them, and in the rest
    // of what the scanner writes (row tags, cells rebuilt) through StylesIn.
    virtual void RowsTaken(bool taken) = 0;
    virtual void StylesIn(std::string_view written) = 0;
    // Refuses the part: throws AutomationError naming the sheet and the problem.
    [[noreturn]] virtual void Refuse(const std::string& problem) = 0;

   protected:
    ~Host() = default;
  };

  // Scanned cells go to cell, the scanned rows' output to out.
  RowScanner(Host& host, CellRecord& cell, std::string& out) : host_(host), cell_(cell), out_(out) {}
  RowScanner(const RowScanner&) = delete;
  RowScanner& operator=(const RowScanner&) = delete;

  // The next piece of the part, in order; last for the final one.
  void Feed(const char* data, std::size_t length, bool last);

  // How reading plain cells ended: a cell was read, the row's end was reached, the buffer
  // ended first, or something of another shape came.
  enum class Plain { kTaken, kRowEnd, kShort, kOther };

 private:
  enum class Mode { kBeforeRows, kRows, kExpat };

  void HandToExpat(std::size_t from, bool last);
  void FeedRows(const char* data, std::size_t length, bool last);
  std::size_t TagEnd(std::size_t from, std::size_t limit) const;
  bool StartsTag(std::size_t at, const std::string& name, std::size_t limit) const;
  void FindRows(bool last);
  void TakeNames(const std::string& sheetDataName);
  void ScanRows(bool last);
  bool ParseAttributes(std::size_t from, std::size_t end, Attributes& into);
  bool TextChild(std::size_t& at, std::size_t limit, const std::string& name, Attributes& attributes, std::string& text);
  bool RawChild(std::size_t& at, std::size_t limit, const std::string& name);
  bool ScanCells(std::size_t from, std::size_t limit);
  bool ScanCell(std::size_t& at, std::size_t limit);
  Plain ScanPlainCells(std::size_t from, std::size_t& stop);
  Plain ReadPlainCell(const char*& at, const char* end, PlainCell& cell) const;
  bool TakePlainCells(const char*& run);

  Host& host_;
  CellRecord& cell_;
  std::string& out_;
  Mode mode_ = Mode::kBeforeRows;
  std::string pending_;     // bytes held from earlier pieces, not yet handled
  std::string_view text_;   // what is being read: pending_, or the piece as it was given
  std::size_t searchFrom_ = 0;
  // A tag plain cells are matched against ("<c", "<v>", "</c>"), with its bytes as one word
  // when it has at most eight: eight bytes loaded at once compare it in one step.
  struct Tag {
    std::string text;
    std::uint64_t word = 0, mask = 0;
  };
  std::string sheetDataEnd_, rowName_, rowEnd_, inlineName_, extensionName_;
  Tag cellOpen_, cellEnd_, formulaOpen_, formulaClose_, valueOpen_, valueClose_;
  std::vector<PlainCell> plainCells_;  // the plain cells of the row being read
  std::size_t plainCount_ = 0;
  Attributes rowAttributes_;
  XmlPieceCheck pieces_;  // checks children the scanner copies whole
};

// Decodes the predefined and numeric entities as expat does; false for anything else (expat
// judges it). Line ends written as such read as "\n" (CR LF and a lone CR too); in an
// attribute value they and tabs read as a space. A character reference stays what it names:
// "&#10;" in an attribute is a line break.
bool DecodeXmlText(std::string_view text, std::string& out, bool attribute = false);

}  // namespace tabrend::spreadsheet
