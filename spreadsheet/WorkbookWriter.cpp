// Assembling an output package: sheets first (streamed), then the parts they reach, the
// shared strings they used, and the workbook, relationship and content-type parts that
// describe exactly what was written. Each part's own rules live in its unit (BlankParts,
// ChartLiterals, ContentTypes, DefinedNames, DocumentProperties, DrawingParts, PivotCaches,
// Relationships, WorkbookPart); this file decides what goes where.
#include "spreadsheet/WorkbookWriter.h"

#include <cstdlib>
#include <map>
#include <set>

#include "core/Error.h"
#include "spreadsheet/BlankParts.h"
#include "spreadsheet/CellReader.h"
#include "spreadsheet/ChartLiterals.h"
#include "spreadsheet/ContentTypes.h"
#include "spreadsheet/DefinedNames.h"
#include "spreadsheet/DocumentProperties.h"
#include "spreadsheet/DrawingParts.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/LossReport.h"
#include "spreadsheet/OpenXml.h"
#include "spreadsheet/PartKinds.h"
#include "spreadsheet/PivotCaches.h"
#include "spreadsheet/Relationships.h"
#include "spreadsheet/SheetRewriter.h"
#include "spreadsheet/StrictMarkup.h"
#include "spreadsheet/StylePruning.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/WorkbookPart.h"
#include "spreadsheet/Xml.h"
#include "spreadsheet/Zip.h"

namespace tabrend::spreadsheet {

namespace {

namespace type = ooxml::type;

// The longest list a validation may hold as a literal ("a,b,c"), in characters.
constexpr std::size_t kMaxListLiteralCharacters = 255;

bool IsXmlType(const std::string& type) { return type.size() >= 3 && type.compare(type.size() - 3, 3, "xml") == 0; }

// A text as a formula writes it: in quotes, its own quotes doubled.
std::string FormulaText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// What a rule formula pointing at a range of a sheet the output lacks showed: a list literal
// ("a,b,c", no item holding a comma) or a single value; nullopt when it has no such form.
std::optional<std::string> RuleLiteral(const SourceWorkbook& source, std::string_view formula, bool list) {
  const auto range = ParseSheetRange(formula);
  if (!range) return std::nullopt;
  const auto& sheets = source.Sheets();
  std::size_t index = sheets.size();
  for (std::size_t i = 0; i < sheets.size(); ++i)
    if (sheets[i].kind == SheetKind::kWorksheet && EqualIgnoringCase(sheets[i].name, range->sheet)) index = i;
  if (index == sheets.size()) return std::nullopt;
  const std::vector<std::string> texts = ReadCellTexts(source, index, *range);
  if (texts.empty()) return std::nullopt;
  if (!list) {
    if (texts.size() != 1) return std::nullopt;
    char* end = nullptr;
    std::strtod(texts[0].c_str(), &end);
    const bool number = !texts[0].empty() && end != nullptr && *end == '\0';
    return number ? texts[0] : FormulaText(texts[0]);
  }
  std::string items;
  for (const std::string& text : texts) {
    if (text.empty()) continue;
    if (text.find(',') != std::string::npos) return std::nullopt;
    items += (items.empty() ? "" : ",") + text;
  }
  if (items.empty() || CharacterCount(items) > kMaxListLiteralCharacters) return std::nullopt;
  return FormulaText(items);
}

// Everything one WriteWorkbook call works with.
class Writer {
 public:
  Writer(const std::vector<OutputSheet>& sheets, std::size_t activeSheet, const std::string& path,
         const ScratchFactory& scratch)
      : sheets_(sheets), activeSheet_(activeSheet), scratch_(scratch), zip_(path), source_(SourceOf(sheets, path)),
        names_(source_, sheets),
        contentTypes_(source_ != nullptr ? &source_->Pkg().DefaultContentTypes() : nullptr) {
    taken_ = {"xl/workbook.xml", "xl/styles.xml", "xl/sharedstrings.xml", "xl/theme/theme1.xml",
              "docprops/app.xml", "docprops/core.xml", "[content_types].xml"};
    for (std::size_t i = 0; i < sheets.size(); ++i) taken_.insert("xl/worksheets/sheet" + std::to_string(i + 1) + ".xml");
    if (names_.Dropped() > 0) losses_[loss::kNameDropped] += names_.Dropped();
  }

  std::vector<std::string> Write() {
    OutputStrings strings(source_ != nullptr ? &source_->Strings() : nullptr);
    bool usesMetadata = false;
    for (std::size_t i = 0; i < sheets_.size(); ++i) usesMetadata |= WriteSheet(i, strings);
    if (source_ != nullptr) CarryWorkbookParts(usesMetadata);
    if (!strings.Empty()) {
      auto file = scratch_();
      if (source_ != nullptr && source_->IsStrict()) {
        TransitionalSink transitional(*file, source_->Label(), "xl/sharedStrings.xml");
        strings.WriteXml(transitional);
      } else {
        strings.WriteXml(*file);
      }
      zip_.AddDeflated("xl/sharedStrings.xml", file->Release());
      contentTypes_.Override("xl/sharedStrings.xml", type::kSharedStrings);
      workbookRelationships_.push_back({"", ooxml::RelationshipType("sharedStrings"), "sharedStrings.xml", false});
    }
    WriteStylesAndTheme();
    WriteWorkbookPart();
    WriteDocumentProperties();
    zip_.AddBytes("[Content_Types].xml", contentTypes_.Xml());
    zip_.Commit();
    std::vector<std::string> lines;
    for (const auto& [what, count] : losses_) lines.push_back(std::to_string(count) + " " + what);
    return lines;
  }

 private:
  // The one source all copied sheets come from; nullptr when every sheet is blank.
  static const SourceWorkbook* SourceOf(const std::vector<OutputSheet>& sheets, const std::string& path) {
    const SourceWorkbook* source = nullptr;
    for (const OutputSheet& sheet : sheets)
      if (sheet.source != nullptr) {
        if (source != nullptr && source != sheet.source)
          Fail(Quoted(path) + " cannot hold sheets copied from two different workbooks");
        source = sheet.source;
      }
    return source;
  }

  std::string OutputNameFor(const std::string& sourcePart) {
    const auto mapped = partNames_.find(sourcePart);
    if (mapped != partNames_.end()) return mapped->second;
    std::string candidate = sourcePart;
    const std::string extension = ExtensionOf(sourcePart);
    const std::string stem = extension.empty() ? sourcePart : sourcePart.substr(0, sourcePart.size() - extension.size() - 1);
    for (int n = 2; taken_.count(FoldCase(candidate)); ++n)
      candidate = stem + "_" + std::to_string(n) + (extension.empty() ? "" : "." + extension);
    taken_.insert(FoldCase(candidate));
    partNames_[sourcePart] = candidate;
    return candidate;
  }

  // Copies sourcePart (not a sheet) and everything it reaches; returns its output name.
  std::string CarryPart(const std::string& sourcePart, std::size_t outputSheet) {
    if (const auto done = partNames_.find(sourcePart); done != partNames_.end()) return done->second;
    if (carryDepth_ >= limits::kMaxPartChain)
      Fail(ErrorReason::kRefused, source_->Label() + " is refused: its parts reach one another more than " +
           std::to_string(limits::kMaxPartChain) + " levels deep");
    ++carryDepth_;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{carryDepth_};
    const std::string outputPart = OutputNameFor(sourcePart);
    const std::string partType = source_->Pkg().ContentType(sourcePart);
    contentTypes_.Record(outputPart, partType);
    std::set<std::string> dropped;
    const std::vector<OutputRelationship> relationships = CarryRelationships(sourcePart, outputPart, outputSheet, dropped);
    std::optional<std::string> rewritten = RewrittenPart(sourcePart, partType);
    if (!dropped.empty() && IsXmlType(partType)) {
      const std::string bytes = rewritten ? *rewritten : source_->Pkg().Read(sourcePart);
      if (auto cleaned = WithoutUsesOf(dropped, bytes, source_->Label(), sourcePart)) rewritten = std::move(cleaned);
    }
    // Tables and pivot tables name differential formats and table styles.
    if (partType == type::kTable || partType == type::kPivotTable)
      styleUse_.Scan(rewritten ? *rewritten : source_->Pkg().Read(sourcePart));
    AddPart(outputPart, sourcePart, std::move(rewritten));
    if (!relationships.empty()) zip_.AddBytes(RelationshipsPartOf(outputPart), RelationshipsXml(relationships));
    return outputPart;
  }

  // A chart, pivot cache or drawing changed for the output; nullopt when it goes as it is.
  std::optional<std::string> RewrittenPart(const std::string& sourcePart, const std::string& partType) {
    const std::string& label = source_->Label();
    if (partType == type::kChart || partType == type::kChartEx) {
      int literalized = 0;
      auto chart = RewriteChart(source_->Pkg().Read(sourcePart), names_.ContextFor(OutputNames::kWorkbookScope),
                                label, sourcePart, literalized);
      if (literalized > 0) losses_[loss::kChartLiteral] += literalized;
      return chart;
    }
    if (partType == type::kPivotCacheDefinition)
      return RewritePivotCache(source_->Pkg().Read(sourcePart), *source_, sourcePart, names_);
    if (partType == type::kDrawing) {
      int removed = 0;
      auto drawing = WithoutSlicerShapes(source_->Pkg().Read(sourcePart), label, sourcePart, removed);
      if (removed > 0) losses_[loss::kWorkbookObjectDropped] += removed;
      return drawing;
    }
    return std::nullopt;
  }

  // Whether part is the workbook's own or one of its sheets (or their strings, styles, chain):
  // never carried as an attachment, whatever kind a sheet's relationship claims for it.
  bool IsWorkbookLevelPart(const std::string& part) {
    if (workbookLevelParts_.empty()) {
      workbookLevelParts_.insert(source_->WorkbookPart());
      for (const SourceSheet& sheet : source_->Sheets())
        if (!sheet.part.empty()) workbookLevelParts_.insert(sheet.part);
      for (const Relationship& relationship : source_->Pkg().RelationshipsOf(source_->WorkbookPart()))
        if (!relationship.external && FateOf(RelationshipKind(relationship.type)) == PartFate::kWorkbookLevel)
          workbookLevelParts_.insert(relationship.targetPart);
    }
    return workbookLevelParts_.count(part) > 0;
  }

  // The relationships of sourcePart that the output keeps (carrying their targets); the ids
  // of the others go to dropped, so the elements that use them can go too.
  std::vector<OutputRelationship> CarryRelationships(const std::string& sourcePart, const std::string& outputPart,
                                                     std::size_t outputSheet, std::set<std::string>& dropped) {
    std::vector<OutputRelationship> kept;
    for (const Relationship& relationship : source_->Pkg().RelationshipsOf(sourcePart)) {
      const std::string type = TransitionalRelationshipType(relationship.type);
      if (relationship.external) {
        kept.push_back({relationship.id, type, relationship.target, true});
        continue;
      }
      if (!relationship.target.empty() && relationship.target.front() == '#') {
        // A place in the document (a shape's link), not a part: it follows its sheet's name,
        // and goes when its sheet is not in the output.
        const auto place =
            RewriteFormula(std::string_view(relationship.target).substr(1), names_.ContextFor(outputSheet));
        if (place) kept.push_back({relationship.id, type, "#" + *place, false});
        else Drop(relationship, dropped, loss::kLinkDropped);
        continue;
      }
      const std::string_view kind = RelationshipKind(relationship.type);
      const PartFate fate = FateOf(kind);
      if (fate == PartFate::kDropped) {
        Drop(relationship, dropped, nullptr);
      } else if (fate == PartFate::kWorkbookLevel || !source_->Pkg().Has(relationship.targetPart) ||
                 relationship.targetPart == sourcePart || IsWorkbookLevelPart(relationship.targetPart)) {
        Drop(relationship, dropped, loss::kRelationshipDropped);
      } else if (kind == "pivotTable" && !PivotDrawsOnOutput(*source_, relationship.targetPart, names_)) {
        // Its cells already hold what it showed; its cache would carry another sheet's data.
        Drop(relationship, dropped, loss::kPivotTableDropped);
      } else {
        if (const PartKind* row = PartKindNamed(kind); row != nullptr && !row->companion.empty())
          companions_.insert(std::string(row->companion));
        const std::string target = CarryPart(relationship.targetPart, outputSheet);
        if (kind == "pivotCacheDefinition") pivotCaches_.Add(*source_, relationship.targetPart, target);
        kept.push_back({relationship.id, type, RelativeTarget(outputPart, target), false});
      }
    }
    return kept;
  }

  // A relationship the output does not keep, counted as `loss` (nullptr: not reported).
  void Drop(const Relationship& relationship, std::set<std::string>& dropped, const char* loss) {
    if (loss != nullptr) ++losses_[loss];
    dropped.insert(relationship.id);
  }

  bool WriteSheet(std::size_t index, OutputStrings& strings) {
    const OutputSheet& sheet = sheets_[index];
    const std::string outputPart = "xl/worksheets/sheet" + std::to_string(index + 1) + ".xml";
    contentTypes_.Override(outputPart, type::kWorksheet);
    workbookRelationships_.push_back({"", ooxml::RelationshipType("worksheet"),
                                      "worksheets/sheet" + std::to_string(index + 1) + ".xml", false});
    if (sheet.source == nullptr) {
      zip_.AddBytes(outputPart, BlankSheetXml(index == activeSheet_));
      return false;
    }
    const SourceSheet& sourceSheet = source_->Sheets()[sheet.sourceIndex];
    if (sourceSheet.kind != SheetKind::kWorksheet)
      Fail(source_->Label() + ": sheet '" + sourceSheet.name + "' is not a worksheet and cannot be copied");
    if (sourceSheet.part.empty() || !source_->Pkg().Has(sourceSheet.part))
      Fail(ErrorReason::kDamaged, source_->Label() + " is damaged: sheet '" + sourceSheet.name + "' has no part");
    std::set<std::string> dropped;
    const std::vector<OutputRelationship> relationships =
        CarryRelationships(sourceSheet.part, outputPart, index, dropped);
    const ReferenceContext context = names_.ContextFor(index);
    SheetRewriteOptions options;
    options.context = &context;
    options.selected = index == activeSheet_;
    options.droppedRelationshipIds = std::move(dropped);
    options.literal = [this](std::string_view formula, bool list) { return RuleLiteral(*source_, formula, list); };
    options.styleUse = &styleUse_;
    auto [file, result] = CopySheet(sheet.sourceIndex, options, strings);
    for (const auto& [what, count] : result.losses) losses_[what] += count;
    zip_.AddDeflated(outputPart, file->Release());
    if (!relationships.empty()) zip_.AddBytes(RelationshipsPartOf(outputPart), RelationshipsXml(relationships));
    return result.usesMetadata;
  }

  // The sheet's copy in a scratch file. Formulas the copy drops that were saved without a
  // result, or with a placeholder: the sheet is copied again with the results calculated for
  // exactly those cells, or with why there are none.
  std::pair<std::unique_ptr<ScratchFile>, SheetRewriteResult> CopySheet(std::size_t sourceIndex,
                                                                        SheetRewriteOptions& options,
                                                                        OutputStrings& strings) {
    const std::uint64_t usesBefore = strings.Uses();
    auto file = scratch_();
    SheetRewriteResult result = Rewrite(sourceIndex, options, strings, *file);
    if (result.missingResults.empty() || source_->Calculator() == nullptr) return {std::move(file), std::move(result)};
    const ResultCalculator::Results calculated =
        source_->Calculator()->Calculate(*source_, sourceIndex, result.missingResults);
    if (calculated.cells.empty()) {
      // Nothing to write: only the report says more.
      for (const auto& line : {loss::FormulaLeftEmpty, loss::PlaceholderKept}) {
        const auto uncalculated = result.losses.extract(line(""));
        if (!uncalculated.empty()) result.losses[line(calculated.problem)] += uncalculated.mapped();
      }
      return {std::move(file), std::move(result)};
    }
    options.computed = &calculated.cells;
    options.missingReason = calculated.problem;
    strings.RestoreUses(usesBefore);
    file = scratch_();
    result = Rewrite(sourceIndex, options, strings, *file);
    options.computed = nullptr;
    return {std::move(file), std::move(result)};
  }

  // RewriteSheet, written in the Transitional dialect whatever the source's.
  SheetRewriteResult Rewrite(std::size_t sourceIndex, const SheetRewriteOptions& options, OutputStrings& strings,
                             ByteSink& out) {
    if (!source_->IsStrict()) return RewriteSheet(*source_, sourceIndex, options, strings, out);
    TransitionalSink transitional(out, source_->Label(), source_->Sheets()[sourceIndex].part);
    return RewriteSheet(*source_, sourceIndex, options, strings, transitional);
  }

  void CarryWorkbookParts(bool usesMetadata) {
    for (const Relationship& relationship : source_->Pkg().RelationshipsOf(source_->WorkbookPart())) {
      if (relationship.external || !source_->Pkg().Has(relationship.targetPart)) continue;
      const std::string_view kind = RelationshipKind(relationship.type);
      const bool wanted = (usesMetadata && IsMetadataKind(kind)) ||
                          (FateOf(kind) == PartFate::kCompanion && companions_.count(std::string(kind)) > 0);
      if (!wanted) continue;
      const std::string target = CarryPart(relationship.targetPart, OutputNames::kWorkbookScope);
      workbookRelationships_.push_back(
          {"", TransitionalRelationshipType(relationship.type), RelativeTarget("xl/workbook.xml", target), false});
    }
  }

  void WriteStylesAndTheme() {
    std::optional<std::string> styles, theme;
    if (source_ != nullptr) {
      styles = source_->WorkbookPartOfKind("styles");
      theme = source_->WorkbookPartOfKind("theme");
    }
    if (!styles) {
      zip_.AddBytes("xl/styles.xml", DefaultStylesXml());
    } else if (source_->Pkg().Zip().DecompressedSize(source_->Pkg().IndexOf(*styles)) <= limits::kMaxParsedPartBytes) {
      AddPart("xl/styles.xml", *styles,
              std::string(ooxml::kXmlDeclaration) +
                  PrunedStyles(source_->Pkg().Read(*styles), styleUse_, source_->Label(), *styles));
    } else {
      // A styles part too large to parse goes whole rather than not at all.
      AddPart("xl/styles.xml", *styles);
    }
    contentTypes_.Override("xl/styles.xml", type::kStyles);
    workbookRelationships_.push_back({"", ooxml::RelationshipType("styles"), "styles.xml", false});
    if (theme) {
      AddPart("xl/theme/theme1.xml", *theme);
      contentTypes_.Override("xl/theme/theme1.xml", type::kTheme);
      workbookRelationships_.push_back({"", ooxml::RelationshipType("theme"), "theme/theme1.xml", false});
    }
  }

  // Adds sourcePart of the source as outputPart: `bytes` when given, else the part as the
  // source holds it (copied without inflating it, unless a Strict source's XML part must
  // become Transitional).
  void AddPart(const std::string& outputPart, const std::string& sourcePart, std::optional<std::string> bytes = {}) {
    if (source_->IsStrict() && IsXmlType(source_->Pkg().ContentType(sourcePart)))
      bytes = TransitionalXml(bytes ? *bytes : source_->Pkg().Read(sourcePart), source_->Label(), sourcePart);
    if (bytes) zip_.AddBytes(outputPart, std::move(*bytes));
    else zip_.AddRawCopy(outputPart, source_->Pkg().Zip(), source_->Pkg().IndexOf(sourcePart));
  }

  // Relationship ids: sheets take rId1..n, the rest follow in order, pivot caches last.
  void WriteWorkbookPart() {
    WorkbookPartContent content;
    content.source = source_;
    for (const OutputSheet& sheet : sheets_) content.sheetNames.push_back(sheet.name);
    content.activeSheet = activeSheet_;
    content.definedNames = names_.Xml();
    const std::size_t next = NumberRelationships(workbookRelationships_, 1);
    content.pivotCaches = pivotCaches_.Xml(next, workbookRelationships_);
    zip_.AddBytes("xl/workbook.xml", WorkbookPartXml(content));
    zip_.AddBytes("xl/_rels/workbook.xml.rels", RelationshipsXml(workbookRelationships_));
    contentTypes_.Override("xl/workbook.xml", type::kWorkbook);
  }

  void WriteDocumentProperties() {
    std::vector<OutputRelationship> root = {
        {"rId1", ooxml::RelationshipType("officeDocument"), "xl/workbook.xml", false},
        {"rId2", ooxml::RelationshipType("extended-properties"), "docProps/app.xml", false}};
    std::vector<std::string> sheetNames;
    for (const OutputSheet& sheet : sheets_) sheetNames.push_back(sheet.name);
    zip_.AddBytes("docProps/app.xml", ExtendedPropertiesXml(ProducerOf(source_), sheetNames));
    contentTypes_.Override("docProps/app.xml", type::kExtendedProperties);
    if (const auto core = source_ != nullptr ? CoreProperties(*source_) : std::nullopt) {
      AddPart("docProps/core.xml", core->targetPart);
      contentTypes_.Override("docProps/core.xml", type::kCoreProperties);
      root.push_back({"rId3", TransitionalRelationshipType(core->type), "docProps/core.xml", false});
    }
    zip_.AddBytes("_rels/.rels", RelationshipsXml(root));
  }

  const std::vector<OutputSheet>& sheets_;
  std::size_t activeSheet_;
  const ScratchFactory& scratch_;
  ZipWriter zip_;
  const SourceWorkbook* source_;
  OutputNames names_;
  ContentTypes contentTypes_;
  std::map<std::string, std::string> partNames_;  // source part -> output part
  std::set<std::string> taken_;                    // folded output part names in use
  std::set<std::string> workbookLevelParts_;       // filled on first use
  std::vector<OutputRelationship> workbookRelationships_;
  PivotCacheList pivotCaches_;
  std::map<std::string, int> losses_;
  StyleUse styleUse_;  // the styles the sheets and their parts name
  std::set<std::string> companions_;  // the companion kinds the carried parts need
  int carryDepth_ = 0;  // CarryPart calls under way
};

}  // namespace

std::vector<std::string> WriteWorkbook(const std::vector<OutputSheet>& sheets, std::size_t activeSheet,
                                       const std::string& path, const ScratchFactory& scratch) {
  if (sheets.empty()) Fail(Quoted(path) + " cannot be written: a workbook needs at least one sheet");
  return Writer(sheets, activeSheet, path, scratch).Write();
}

}  // namespace tabrend::spreadsheet
