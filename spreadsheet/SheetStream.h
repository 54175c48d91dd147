// The copy of one worksheet part, streamed: expat reports every event, and events the copy
// does not change are passed on as their original bytes (XmlReader::PassCurrent) while the rest
// are rebuilt; the rows go through the faster RowScanner where they have its shape. Used by
// RewriteSheet (SheetRewriter.h), which is its interface.
#pragma once

#include <unordered_set>

#include "core/Error.h"
#include "spreadsheet/ByteSink.h"
#include "spreadsheet/CellRecord.h"
#include "spreadsheet/OutputStrings.h"
#include "spreadsheet/RowScanner.h"
#include "spreadsheet/SheetRewriter.h"
#include "spreadsheet/XmlReader.h"

namespace tabrend::spreadsheet {

class SheetStream : private RowScanner::Host, private XmlReader::Handler {
 public:
  SheetStream(const SourceWorkbook& source, std::size_t sheetIndex, const SheetRewriteOptions& options,
              OutputStrings& strings, ByteSink& out);
  ~SheetStream();
  SheetStream(const SheetStream&) = delete;
  SheetStream& operator=(const SheetStream&) = delete;

  // Copies the sheet. Throws AutomationError naming the file, part and sheet.
  SheetRewriteResult Run();

 private:
  // A group of elements held whole until it ends (a rule and its formulas, a group of rules,
  // an extension block), as it may have to go.
  struct Capture {
    std::string name;
    Attributes attributes;
    int depth = 0;
    bool rule = false;
    bool drop = false;
    int kept = 0;
    int dropped = 0;
    std::string buffer;
  };

  // RowScanner::Host
  void Parse(const char* data, std::size_t length, bool last) override;
  bool RowsMayFollow() const override { return sawSheetData_ && captures_.empty() && skipDepth_ == 0; }
  void RowStarted(const Attributes&) override {}
  void RowTakenBack() override {}
  // The copy takes every cell: a row is never handed back.
  bool FinishCell(std::string& sink) override {
    CompleteCell(sink);
    return true;
  }
  PlainFate TakePlainCell(const PlainCell& cell) override;
  void WritePlainCell(const PlainCell& cell, std::string& sink) override;
  void NoteStyle(const PlainCell& cell);
  void RowWritten() override { Flush(); }
  void RowsTaken(bool taken) override;
  void StylesIn(std::string_view written) override;
  [[noreturn]] void Refuse(const std::string& problem) override;

  void Feed(const char* data, std::size_t length, bool last);
  std::uint64_t HeldBytes() const;
  void Stop(const std::string& problem, ErrorReason reason = ErrorReason::kDamaged);
  void Flush();
  std::string* Sink();
  void Raw() { xml_.PassCurrent(); }

  // XmlReader::Handler
  void OnRaw(const XML_Char* data, int length) override;
  void OnText(const XML_Char* text, int length) override;
  void OnStart(const XML_Char* name, const XML_Char** attributes) override { Start(name, attributes); }
  void OnEnd(const XML_Char* name) override { End(name); }

  void Start(const XML_Char* name, const XML_Char** attributes);
  void StartInCell(const XML_Char* name, const XML_Char** attributes);
  void StartCell(const XML_Char* name, const XML_Char** attributes);
  bool StartDropped(std::string_view local, const XML_Char** attributes);
  void StartRebuilt(const XML_Char* name, const Attributes& attributes);
  void StartHyperlink(const XML_Char* name, Attributes attributes);
  void End(const XML_Char* name);
  void EndInCell();
  void EndFormulaText();
  std::optional<std::string> LiteralForRule();
  void MarkRuleDropped();
  void FinishCapture();

  // Every cell, read by either path, is written here: three cases.
  void CompleteCell(std::string& sink);
  void KeepCell(std::string& sink);
  void RenumberString(std::string& sink);
  void FinishFormulaCell(std::string& sink);
  bool ForgetMissingString(std::string& sink);
  bool KeepFormula();
  Attributes ValueAttributes(bool formulaGoes, std::string& value, bool& writeValue);
  void WriteCell(std::string& sink, const Attributes& attributes, bool keepFormula, bool writeValue,
                 const std::string& value);
  const CellResult* ComputedResult() const;
  void WriteComputed(std::string& sink, const CellResult& computed);
  std::uint32_t UseString(const std::string& index);
  std::uint32_t UseString(std::uint32_t index, std::string_view written, std::string_view reference);
  void NoteMetadata();
  std::string CellRef() const;

  const SourceWorkbook& source_;
  const SourceSheet& sheet_;
  const SheetRewriteOptions& options_;
  OutputStrings& strings_;
  ByteSink& out_;
  std::string where_;  // "'Q1.xlsx': sheet 'Costs'", for messages
  XmlReader xml_;
  SheetRewriteResult result_;
  std::string main_;   // output not yet passed to out_
  // Where in main_ the styles named are not known yet; while the row scanner takes the rows it
  // tells them itself, and nothing it writes needs looking at again.
  std::size_t stylesKnownUpTo_ = 0;
  bool rowsTaken_ = false;

  int depth_ = 0;
  int skipDepth_ = 0;
  bool sawRoot_ = false;
  bool sawSheetView_ = false;
  bool sawSheetData_ = false;
  std::vector<bool> reserialized_;
  std::vector<Capture> captures_;
  // A list whose entries may all go (<hyperlinks>): its start tag is held until an entry
  // stays, and goes with it when none does.
  std::string held_;
  int heldDepth_ = 0;

  // Text of the element being collected: a cell's formula or value, or a rule's formula
  // (which uses cell_.formula too, as no cell is open then).
  std::string* collect_ = nullptr;
  int formulaDepth_ = 0;

  bool inCell_ = false;
  int cellDepth_ = 0;
  int cellRawDepth_ = 0;
  CellRecord cell_;
  std::uint32_t plainIndex_ = 0;  // the new index of the plain string cell taken last
  std::string valueOpen_, valueAndCellClose_;  // "<v>" and "</v></c>", as the part names them
  std::unordered_set<std::string> droppedSharedGroups_;
  RowScanner scanner_{*this, cell_, main_};
};

}  // namespace tabrend::spreadsheet
