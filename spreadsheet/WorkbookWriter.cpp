// Assembling an output package: sheets first (streamed), then the parts they reach, the
// shared strings they used, and the workbook, relationship and content-type parts that
// describe exactly what was written.
#include "spreadsheet/WorkbookWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "spreadsheet/CellReader.h"
#include "spreadsheet/Error.h"
#include "spreadsheet/Formula.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/SheetRewriter.h"
#include "spreadsheet/StylePruning.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

constexpr const char* kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
constexpr const char* kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRelationshipNamespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kRelationshipTypeBase = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr const char* kWorksheetType = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";

const char* const kChartLiteral = "chart series referring to other sheets now hold the values they showed";
const char* const kRelationshipDropped = "links to parts of other sheets or to missing parts were removed";

struct ReferencedPart {
  std::string id, type, target;
  bool external = false;
};

std::string Escaped(std::string_view text) {
  std::string out;
  AppendEscapedAttribute(out, text);
  return out;
}

std::string RelationshipsXml(const std::vector<ReferencedPart>& relationships) {
  std::string xml = kXmlDeclaration;
  xml += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (const auto& relationship : relationships) {
    xml += "<Relationship Id=\"" + Escaped(relationship.id) + "\" Type=\"" + Escaped(relationship.type) +
           "\" Target=\"" + Escaped(relationship.target) + "\"";
    if (relationship.external) xml += " TargetMode=\"External\"";
    xml += "/>";
  }
  xml += "</Relationships>";
  return xml;
}

std::string Extension(std::string_view part) {
  const auto slash = part.find_last_of('/');
  const auto dot = part.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  std::string extension(part.substr(dot + 1));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool IsSheetOrWorkbookKind(std::string_view kind) {
  return kind == "worksheet" || kind == "chartsheet" || kind == "dialogsheet" || kind == "officeDocument" ||
         kind == "xlMacrosheet" || kind == "xlIntlMacrosheet" || kind == "externalLink" ||
         kind == "calcChain" || kind == "vbaProject" || kind == "sharedStrings" || kind == "styles";
}

bool IsDroppedKind(std::string_view kind) { return kind == "slicer" || kind == "timeline"; }

bool IsMetadataKind(std::string_view kind) {
  return kind == "sheetMetadata" || kind.rfind("rd", 0) == 0 || kind.rfind("richValue", 0) == 0;
}

// An unnamed scratch file in TMPDIR (std::tmpfile would always use /tmp).
std::unique_ptr<std::FILE, int (*)(std::FILE*)> TemporaryFile() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tabrend-copy-XXXXXX";
  const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (descriptor < 0)
    Fail("no temporary file could be created for the copy in '" + pattern.substr(0, pattern.rfind('/')) +
         "': " + std::strerror(errno));
  ::unlink(pattern.c_str());
  std::FILE* file = ::fdopen(descriptor, "w+b");
  if (file == nullptr) {
    ::close(descriptor);
    Fail("no temporary file could be created for the copy: " + std::string(std::strerror(errno)));
  }
  return {file, std::fclose};
}

const char* const kDefaultStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"1\"><font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/>"
    "<scheme val=\"minor\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "<dxfs count=\"0\"/><tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium2\" defaultPivotStyle=\"PivotStyleLight16\"/>"
    "</styleSheet>";

std::string BlankSheetXml(bool selected) {
  std::string xml = kXmlDeclaration;
  xml += "<worksheet xmlns=\"";
  xml += kMainNamespace;
  xml += "\" xmlns:r=\"";
  xml += kRelationshipNamespace;
  xml += "\"><dimension ref=\"A1\"/><sheetViews><sheetView ";
  if (selected) xml += "tabSelected=\"1\" ";
  xml += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/><sheetData/>"
         "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/></worksheet>";
  return xml;
}

// Everything one WriteWorkbook call works with.
class Writer {
 public:
  Writer(const std::vector<OutputSheet>& sheets, std::size_t activeSheet, const std::string& path)
      : sheets_(sheets), activeSheet_(activeSheet), zip_(path) {
    for (const OutputSheet& sheet : sheets)
      if (sheet.source != nullptr) {
        if (source_ != nullptr && source_ != sheet.source)
          Fail(Quoted(path) + " cannot hold sheets copied from two different workbooks");
        source_ = sheet.source;
      }
    taken_ = {"xl/workbook.xml", "xl/styles.xml", "xl/sharedstrings.xml", "xl/theme/theme1.xml",
              "docprops/app.xml", "docprops/core.xml", "[content_types].xml"};
    for (std::size_t i = 0; i < sheets.size(); ++i) taken_.insert("xl/worksheets/sheet" + std::to_string(i + 1) + ".xml");
  }

  std::vector<std::string> Write() {
    PrepareNames();
    OutputStrings strings(source_ != nullptr ? &source_->Strings() : nullptr);
    bool usesMetadata = false;
    for (std::size_t i = 0; i < sheets_.size(); ++i) usesMetadata |= WriteSheet(i, strings);
    if (source_ != nullptr) CarryWorkbookParts(usesMetadata);
    if (!strings.Empty()) {
      auto file = TemporaryFile();
      strings.WriteXml(file.get());
      zip_.AddFile("xl/sharedStrings.xml", file.release());
      overrides_["xl/sharedStrings.xml"] = "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
      workbookRelationships_.push_back({"", std::string(kRelationshipTypeBase) + "sharedStrings", "sharedStrings.xml", false});
    }
    WriteStylesAndTheme();
    WriteWorkbookPart();
    WriteDocumentProperties();
    WriteContentTypes();
    zip_.Commit();
    return Report();
  }

 private:
  // Sheet name map and the defined names that can come along.
  void PrepareNames() {
    if (source_ == nullptr) return;
    for (std::size_t i = 0; i < sheets_.size(); ++i) {
      if (sheets_[i].source == nullptr) continue;
      const std::string key = FoldCase(source_->Sheets()[sheets_[i].sourceIndex].name);
      outputNameOf_.emplace(key, sheets_[i].name);
      if (!outputPositionOf_.count(sheets_[i].sourceIndex)) outputPositionOf_[sheets_[i].sourceIndex] = i;
    }
    for (std::size_t i = 0; i < sheets_.size(); ++i)
      if (sheets_[i].source != nullptr)
        for (const std::string& table : source_->TableNames(sheets_[i].sourceIndex)) tables_.insert(FoldCase(table));
    // Candidates: workbook-level names, and names scoped to a sheet the output has.
    std::vector<std::pair<const DefinedName*, std::optional<std::size_t>>> candidates;
    for (const DefinedName& name : source_->Names()) {
      if (!name.localSheetId) {
        candidates.emplace_back(&name, std::nullopt);
        continue;
      }
      const auto position = outputPositionOf_.find(static_cast<std::size_t>(*name.localSheetId));
      if (position != outputPositionOf_.end()) candidates.emplace_back(&name, position->second);
    }
    std::vector<NameReading> readings = ReadNames(candidates);
    globalNames_.clear();
    scopedNames_.clear();
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      if (!readings[k].alive) continue;
      if (candidates[k].second) scopedNames_[*candidates[k].second].insert(FoldCase(candidates[k].first->name));
      else globalNames_.insert(FoldCase(candidates[k].first->name));
    }
    std::set<std::pair<std::string, std::size_t>> written;  // some writers repeat a name in one scope
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      if (!readings[k].alive) {
        ++losses_["defined names referring to other sheets or workbooks were left out"];
        continue;
      }
      if (!written.emplace(FoldCase(candidates[k].first->name), candidates[k].second.value_or(SIZE_MAX)).second) continue;
      // A workbook-level name that refers to no sheet (a constant) goes only with an output
      // that uses it.
      const bool constant = !candidates[k].second && !readings[k].refersToSheet;
      names_.push_back({candidates[k].first, candidates[k].second, std::move(readings[k].formula), constant,
                        std::move(readings[k].uses)});
    }
  }

  // The carried names worth writing: all but the constants no sheet, part or written name uses.
  auto NamesToWrite() const {
    std::map<std::string, std::vector<const CarriedName*>> byKey;
    for (const CarriedName& name : names_) byKey[FoldCase(name.source->name)].push_back(&name);
    // A name that uses a name bound to a sheet is bound to it too: only the rest are constants.
    std::map<std::string, std::vector<const CarriedName*>> users;
    for (const CarriedName& name : names_)
      for (const std::string& key : name.uses) users[key].push_back(&name);
    std::set<const CarriedName*> bound;
    std::vector<const CarriedName*> spreading;
    for (const CarriedName& name : names_)
      if (!name.constant && bound.insert(&name).second) spreading.push_back(&name);
    while (!spreading.empty()) {
      const CarriedName* name = spreading.back();
      spreading.pop_back();
      if (const auto found = users.find(FoldCase(name->source->name)); found != users.end())
        for (const CarriedName* user : found->second)
          if (bound.insert(user).second) spreading.push_back(user);
    }
    std::set<const CarriedName*> written;
    std::vector<std::string> pending(referencedNames_.begin(), referencedNames_.end());
    for (const CarriedName* name : bound)
      if (written.insert(name).second) pending.insert(pending.end(), name->uses.begin(), name->uses.end());
    while (!pending.empty()) {
      const std::string key = std::move(pending.back());
      pending.pop_back();
      const auto found = byKey.find(key);
      if (found == byKey.end()) continue;
      for (const CarriedName* name : found->second)
        if (written.insert(name).second) pending.insert(pending.end(), name->uses.begin(), name->uses.end());
    }
    std::vector<const CarriedName*> ordered;
    for (const CarriedName& name : names_)
      if (written.count(&name)) ordered.push_back(&name);
    return ordered;
  }

  // What one candidate name's formula comes to in the output.
  struct NameReading {
    bool alive = true;                // it can come along
    std::string formula;              // rewritten for the output
    bool refersToSheet = false;       // names a sheet itself
    std::vector<std::string> uses;    // folded names it uses
  };

  // Which candidates can come along: those whose formulas refer only to what the output has,
  // names included, where a name that uses a name which cannot come cannot come either. Each
  // formula is read once and a death travels back along the uses, so a long chain of names
  // costs time in proportion to its length, not its square.
  std::vector<NameReading> ReadNames(
      const std::vector<std::pair<const DefinedName*, std::optional<std::size_t>>>& candidates) const {
    constexpr std::size_t kWorkbookScope = SIZE_MAX;
    // Candidates of one name in one scope form a group; a name is there while one of its group is.
    std::map<std::pair<std::string, std::size_t>, std::size_t> groupOf;
    std::vector<std::size_t> groupOfCandidate(candidates.size()), aliveInGroup;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      const auto key = std::make_pair(FoldCase(candidates[k].first->name), candidates[k].second.value_or(kWorkbookScope));
      const auto [found, added] = groupOf.emplace(key, aliveInGroup.size());
      if (added) aliveInGroup.push_back(0);
      groupOfCandidate[k] = found->second;
      ++aliveInGroup[found->second];
    }
    const auto groupIndex = [&](const std::string& key, std::size_t scope) -> std::optional<std::size_t> {
      const auto found = groupOf.find({key, scope});
      if (found == groupOf.end()) return std::nullopt;
      return found->second;
    };
    // A use of a name from a sheet's scope finds that sheet's name first, else the workbook's.
    struct Use {
      std::size_t user;
      std::optional<std::size_t> scoped, global;
    };
    std::vector<Use> uses;
    std::vector<std::vector<std::size_t>> usesOfGroup(aliveInGroup.size());
    std::vector<NameReading> readings(candidates.size());
    std::vector<std::size_t> dying;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      const std::size_t scope = candidates[k].second.value_or(kWorkbookScope);
      NameReading& reading = readings[k];
      ReferenceContext context = ContextFor(scope);
      context.sheet = [&reading, sheet = context.sheet](std::string_view name) {
        reading.refersToSheet = true;
        return sheet(name);
      };
      std::vector<Use> found;
      context.definedName = [&](std::string_view name) {
        std::string key = FoldCase(name);
        Use use{k, scope == kWorkbookScope ? std::nullopt : groupIndex(key, scope), groupIndex(key, kWorkbookScope)};
        if (!use.scoped && !use.global) return false;
        found.push_back(use);
        reading.uses.push_back(std::move(key));
        return true;
      };
      // The text does not depend on which names come: only whether it can be written does.
      std::optional<std::string> formula = RewriteFormula(candidates[k].first->formula, context);
      if (!formula) {
        reading.alive = false;
        dying.push_back(k);
        continue;
      }
      reading.formula = std::move(*formula);
      for (const Use& use : found) {
        for (const auto& group : {use.scoped, use.global})
          if (group) usesOfGroup[*group].push_back(uses.size());
        uses.push_back(use);
      }
    }
    while (!dying.empty()) {
      const std::size_t k = dying.back();
      dying.pop_back();
      const std::size_t group = groupOfCandidate[k];
      if (--aliveInGroup[group] != 0) continue;
      for (const std::size_t u : usesOfGroup[group]) {
        const Use& use = uses[u];
        const bool stillThere = (use.scoped && aliveInGroup[*use.scoped] > 0) || (use.global && aliveInGroup[*use.global] > 0);
        if (!stillThere && readings[use.user].alive) {
          readings[use.user].alive = false;
          dying.push_back(use.user);
        }
      }
    }
    return readings;
  }

  ReferenceContext ContextFor(std::size_t outputSheet) const {
    ReferenceContext context;
    context.sheet = [this](std::string_view name) -> std::optional<std::string> {
      const auto found = outputNameOf_.find(FoldCase(name));
      if (found == outputNameOf_.end()) return std::nullopt;
      return found->second;
    };
    context.definedName = [this, outputSheet](std::string_view name) {
      const std::string key = FoldCase(name);
      const auto scoped = scopedNames_.find(outputSheet);
      const bool known = globalNames_.count(key) || (scoped != scopedNames_.end() && scoped->second.count(key) > 0);
      if (known) referencedNames_.insert(key);
      return known;
    };
    context.table = [this](std::string_view name) { return tables_.count(FoldCase(name)) > 0; };
    return context;
  }

  std::string OutputNameFor(const std::string& sourcePart) {
    const auto mapped = partNames_.find(sourcePart);
    if (mapped != partNames_.end()) return mapped->second;
    std::string candidate = sourcePart;
    const std::string extension = Extension(sourcePart);
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
      Fail(source_->Label() + " is refused: its parts reach one another more than " +
           std::to_string(limits::kMaxPartChain) + " levels deep");
    ++carryDepth_;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{carryDepth_};
    const std::string outputPart = OutputNameFor(sourcePart);
    const std::string type = source_->Pkg().ContentType(sourcePart);
    RecordContentType(outputPart, type);
    std::set<std::string> dropped;
    std::vector<ReferencedPart> relationships = CarryRelationships(sourcePart, outputPart, outputSheet, dropped);
    std::string rewritten;
    const bool chart = type == "application/vnd.openxmlformats-officedocument.drawingml.chart+xml" ||
                       type == "application/vnd.ms-office.chartex+xml";
    const bool pivotCache = type == "application/vnd.openxmlformats-officedocument.spreadsheetml.pivotCacheDefinition+xml";
    const bool drawing = type == "application/vnd.openxmlformats-officedocument.drawing+xml";
    bool changed = (chart && RewriteChart(sourcePart, rewritten)) ||
                   (pivotCache && RewritePivotCache(sourcePart, rewritten)) ||
                   (drawing && RemoveSlicerShapes(sourcePart, rewritten));
    if (!dropped.empty() && IsXmlType(type)) {
      if (!changed) rewritten = source_->Pkg().Read(sourcePart);
      changed = RemoveUsesOf(dropped, sourcePart, rewritten) || changed;
    }
    // Tables and pivot tables name differential formats and table styles.
    if (type == "application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml" ||
        type == "application/vnd.openxmlformats-officedocument.spreadsheetml.pivotTable+xml")
      styleUse_.Scan(changed ? rewritten : source_->Pkg().Read(sourcePart));
    if (changed)
      zip_.AddBytes(outputPart, std::move(rewritten));
    else
      zip_.AddRawCopy(outputPart, source_->Pkg().Zip(), source_->Pkg().IndexOf(sourcePart));
    if (!relationships.empty()) zip_.AddBytes(RelationshipsPartOf(outputPart), RelationshipsXml(relationships));
    return outputPart;
  }

  // Whether part is the workbook's own or one of its sheets (or their strings, styles, chain):
  // never carried as an attachment, whatever kind a sheet's relationship claims for it.
  bool IsWorkbookLevelPart(const std::string& part) {
    if (workbookLevelParts_.empty()) {
      workbookLevelParts_.insert(source_->WorkbookPart());
      for (const SourceSheet& sheet : source_->Sheets())
        if (!sheet.part.empty()) workbookLevelParts_.insert(sheet.part);
      for (const Relationship& relationship : source_->Pkg().RelationshipsOf(source_->WorkbookPart()))
        if (!relationship.external && IsSheetOrWorkbookKind(RelationshipKind(relationship.type)))
          workbookLevelParts_.insert(relationship.targetPart);
    }
    return workbookLevelParts_.count(part) > 0;
  }

  std::vector<ReferencedPart> CarryRelationships(const std::string& sourcePart, const std::string& outputPart,
                                                 std::size_t outputSheet, std::set<std::string>& dropped) {
    std::vector<ReferencedPart> kept;
    for (const Relationship& relationship : source_->Pkg().RelationshipsOf(sourcePart)) {
      if (relationship.external) {
        kept.push_back({relationship.id, relationship.type, relationship.target, true});
        continue;
      }
      if (!relationship.target.empty() && relationship.target.front() == '#') {
        // A place in the document (a shape's link), not a part: it follows its sheet's name,
        // and goes when its sheet is not in the output.
        const auto place = RewriteFormula(std::string_view(relationship.target).substr(1), ContextFor(outputSheet));
        if (!place) {
          ++losses_["links to other sheets were removed"];
          dropped.insert(relationship.id);
          continue;
        }
        kept.push_back({relationship.id, relationship.type, "#" + *place, false});
        continue;
      }
      const std::string_view kind = RelationshipKind(relationship.type);
      if (IsDroppedKind(kind)) {
        dropped.insert(relationship.id);
        continue;
      }
      if (IsSheetOrWorkbookKind(kind) || !source_->Pkg().Has(relationship.targetPart) ||
          relationship.targetPart == sourcePart || IsWorkbookLevelPart(relationship.targetPart)) {
        ++losses_[kRelationshipDropped];
        dropped.insert(relationship.id);
        continue;
      }
      if (kind == "pivotTable" && !PivotDrawsOnOutput(relationship.targetPart)) {
        // Its cells already hold what it showed; its cache would carry another sheet's data.
        ++losses_["pivot tables drawing on other sheets were kept as their values"];
        dropped.insert(relationship.id);
        continue;
      }
      if (kind == "threadedComment") needsPersons_ = true;
      const std::string target = CarryPart(relationship.targetPart, outputSheet);
      if (kind == "pivotCacheDefinition") RegisterPivotCache(relationship.targetPart, target);
      kept.push_back({relationship.id, relationship.type, RelativeTarget(outputPart, target), false});
    }
    return kept;
  }

  // Slicers and timelines do not come along (their caches are the whole workbook's), and a
  // shape left pointing at one makes the spreadsheet program repair the file: the shapes go
  // too. False when the drawing has none.
  bool RemoveSlicerShapes(const std::string& sourcePart, std::string& out) {
    const std::string bytes = source_->Pkg().Read(sourcePart);
    if (bytes.find("/slicer\"") == std::string::npos && bytes.find("/timeslicer\"") == std::string::npos) return false;
    pugi::xml_document document;
    ParseXml(document, bytes, source_->Label(), sourcePart);
    std::vector<pugi::xml_node> doomed;
    for (pugi::xml_node anchor : document.document_element().children()) {
      const pugi::xpath_node_set graphics = anchor.select_nodes(".//*[local-name()='graphicData']");
      for (const pugi::xpath_node& graphic : graphics) {
        const std::string uri = graphic.node().attribute("uri").value();
        if (uri.size() >= 7 && (uri.compare(uri.size() - 7, 7, "/slicer") == 0 || uri.find("/timeslicer") != std::string::npos)) {
          doomed.push_back(anchor);
          break;
        }
      }
    }
    if (doomed.empty()) return false;
    for (pugi::xml_node anchor : doomed) document.document_element().remove_child(anchor);
    losses_["slicers, timelines or other workbook-level objects were removed"] += static_cast<int>(doomed.size());
    std::ostringstream stream;
    document.save(stream, "", pugi::format_raw, pugi::encoding_utf8);
    out = stream.str();
    return true;
  }

  static bool IsXmlType(const std::string& type) {
    return type.size() >= 3 && type.compare(type.size() - 3, 3, "xml") == 0;
  }

  // Removes from an XML part the elements that use one of the dropped relationships (a link
  // on a shape, say), so none is left naming a relationship the part no longer has.
  bool RemoveUsesOf(const std::set<std::string>& dropped, const std::string& sourcePart, std::string& bytes) {
    pugi::xml_document document;
    ParseXml(document, bytes, source_->Label(), sourcePart);
    std::vector<pugi::xml_node> doomed;
    for (const pugi::xpath_node& found : document.select_nodes("//*[@*]")) {
      for (pugi::xml_attribute attribute : found.node().attributes()) {
        const std::string_view name = attribute.name();
        if (name.find(':') != std::string_view::npos && dropped.count(attribute.value()) > 0 &&
            (LocalName(name) == "id" || LocalName(name) == "embed" || LocalName(name) == "link")) {
          doomed.push_back(found.node());
          break;
        }
      }
    }
    if (doomed.empty()) return false;
    // Only the outermost: removing an element frees what it holds. A set, so a part with
    // many such elements costs its depth per element, not their number.
    std::set<pugi::xml_node_struct*> doomedSet;
    for (pugi::xml_node node : doomed) doomedSet.insert(node.internal_object());
    auto inside = [&](pugi::xml_node node) {
      for (pugi::xml_node up = node.parent(); up; up = up.parent())
        if (doomedSet.count(up.internal_object())) return true;
      return false;
    };
    std::vector<pugi::xml_node> outermost;
    for (pugi::xml_node node : doomed)
      if (!inside(node)) outermost.push_back(node);
    for (pugi::xml_node node : outermost) node.parent().remove_child(node);
    std::ostringstream stream;
    document.save(stream, "", pugi::format_raw, pugi::encoding_utf8);
    bytes = stream.str();
    return true;
  }

  // The worksheet source of the cache behind a pivot table, or an empty node.
  pugi::xml_node PivotSource(pugi::xml_document& cache, const std::string& cachePart) const {
    ParseXml(cache, source_->Pkg().Read(cachePart), source_->Label(), cachePart);
    const pugi::xml_node cacheSource = ChildByLocalName(cache.document_element(), "cacheSource");
    const std::string type = cacheSource.attribute("type").value();
    if (!type.empty() && type != "worksheet") return {};
    return ChildByLocalName(cacheSource, "worksheetSource");
  }

  // Whether a pivot table's cache draws on a sheet, table or name the output has.
  bool PivotDrawsOnOutput(const std::string& pivotPart) {
    for (const Relationship& relationship : source_->Pkg().RelationshipsOf(pivotPart)) {
      if (relationship.external || RelationshipKind(relationship.type) != "pivotCacheDefinition" ||
          !source_->Pkg().Has(relationship.targetPart))
        continue;
      pugi::xml_document cache;
      const pugi::xml_node worksheetSource = PivotSource(cache, relationship.targetPart);
      if (!worksheetSource || AttributeByLocalName(worksheetSource, "id")) return false;  // external data
      if (const pugi::xml_attribute sheet = worksheetSource.attribute("sheet"))
        return outputNameOf_.count(FoldCase(sheet.value())) > 0;
      const std::string name = FoldCase(worksheetSource.attribute("name").value());
      return tables_.count(name) > 0 || globalNames_.count(name) > 0;
    }
    return false;
  }

  // The cache definition with its source sheet renamed; false when it needs no change.
  bool RewritePivotCache(const std::string& sourcePart, std::string& out) {
    pugi::xml_document cache;
    const pugi::xml_node worksheetSource = PivotSource(cache, sourcePart);
    pugi::xml_attribute sheet = worksheetSource.attribute("sheet");
    if (!sheet) return false;
    const auto renamed = outputNameOf_.find(FoldCase(sheet.value()));
    if (renamed == outputNameOf_.end() || renamed->second == sheet.value()) return false;
    sheet.set_value(renamed->second.c_str());
    std::ostringstream stream;
    cache.save(stream, "", pugi::format_raw, pugi::encoding_utf8);
    out = stream.str();
    return true;
  }

  void RegisterPivotCache(const std::string& sourcePart, const std::string& outputPart) {
    const auto id = source_->PivotCacheIds().find(sourcePart);
    if (id == source_->PivotCacheIds().end()) return;
    for (const auto& cache : pivotCaches_)
      if (cache.second.target == RelativeTarget("xl/workbook.xml", outputPart)) return;
    pivotCaches_.emplace_back(id->second, ReferencedPart{"", std::string(kRelationshipTypeBase) + "pivotCacheDefinition",
                                                         RelativeTarget("xl/workbook.xml", outputPart), false});
  }

  // Renames sheet references in chart formulas; a series whose data lives on a sheet the
  // output lacks keeps the values it showed, as literal data. False when nothing changes.
  bool RewriteChart(const std::string& sourcePart, std::string& out) {
    pugi::xml_document document;
    ParseXml(document, source_->Pkg().Read(sourcePart), source_->Label(), sourcePart);
    const ReferenceContext context = ContextFor(SIZE_MAX);
    std::vector<pugi::xml_node> formulas;
    for (const pugi::xpath_node& found : document.select_nodes("//*[local-name()='f']")) formulas.push_back(found.node());
    bool changed = false;
    for (pugi::xml_node formula : formulas) {
      const std::string text = formula.text().get();
      const auto rewritten = RewriteFormula(text, context);
      if (rewritten && *rewritten == text) continue;
      changed = true;
      if (rewritten) {
        formula.text().set(rewritten->c_str());
        continue;
      }
      ++losses_[kChartLiteral];
      Literalize(formula);
    }
    if (!changed) return false;
    std::ostringstream stream;
    document.save(stream, "", pugi::format_raw, pugi::encoding_utf8);
    out = stream.str();
    return true;
  }

  static void Literalize(pugi::xml_node formula) {
    pugi::xml_node reference = formula.parent();
    const std::string referenceName = reference.name();
    const std::string prefix = referenceName.find(':') == std::string::npos ? "" : referenceName.substr(0, referenceName.find(':') + 1);
    const std::string_view local = LocalName(referenceName);
    pugi::xml_node cache;
    for (pugi::xml_node child : reference.children()) {
      const std::string_view childName = LocalName(child);
      if (childName == "numCache" || childName == "strCache" || childName == "multiLvlStrCache") cache = child;
    }
    if ((local == "numRef" || local == "strRef") && cache && reference.parent() && LocalName(reference.parent()) == "tx") {
      // A series or axis title: its text becomes a literal value.
      pugi::xml_node point = ChildByLocalName(cache, "pt");
      const std::string value = ChildByLocalName(point, "v").text().get();
      pugi::xml_node parent = reference.parent();
      pugi::xml_node literal = parent.insert_child_before((prefix + "v").c_str(), reference);
      literal.text().set(value.c_str());
      parent.remove_child(reference);
      return;
    }
    if ((local == "numRef" || local == "strRef" || local == "multiLvlStrRef") && cache) {
      pugi::xml_node source = cache;
      if (LocalName(cache) == "multiLvlStrCache") {
        // Only the innermost level has a literal form.
        pugi::xml_node level = ChildByLocalName(cache, "lvl");
        source = level ? level : cache;
      }
      pugi::xml_node parent = reference.parent();
      pugi::xml_node literal = parent.insert_child_before(
          (prefix + (local == "numRef" ? "numLit" : "strLit")).c_str(), reference);
      if (local != "numRef" || !ChildByLocalName(source, "formatCode")) {
        // strLit has no formatCode; numLit takes the cache's own.
      }
      for (pugi::xml_node child : source.children()) {
        const std::string_view childName = LocalName(child);
        if (childName == "extLst") continue;
        if (local != "numRef" && childName == "formatCode") continue;
        literal.append_copy(child);
      }
      if (LocalName(cache) == "multiLvlStrCache")
        if (pugi::xml_node count = ChildByLocalName(cache, "ptCount"))
          literal.prepend_copy(count);
      parent.remove_child(reference);
      return;
    }
    // Any other reference (data label ranges and the like) goes, with its cache.
    reference.parent().remove_child(reference);
  }

  bool WriteSheet(std::size_t index, OutputStrings& strings) {
    const OutputSheet& sheet = sheets_[index];
    const std::string outputPart = "xl/worksheets/sheet" + std::to_string(index + 1) + ".xml";
    overrides_[outputPart] = kWorksheetType;
    workbookRelationships_.push_back({"", std::string(kRelationshipTypeBase) + "worksheet",
                                      "worksheets/sheet" + std::to_string(index + 1) + ".xml", false});
    if (sheet.source == nullptr) {
      zip_.AddBytes(outputPart, BlankSheetXml(index == activeSheet_));
      return false;
    }
    const SourceSheet& sourceSheet = source_->Sheets()[sheet.sourceIndex];
    if (sourceSheet.kind != SheetKind::kWorksheet)
      Fail(source_->Label() + ": sheet '" + sourceSheet.name + "' is not a worksheet and cannot be copied");
    if (sourceSheet.part.empty() || !source_->Pkg().Has(sourceSheet.part))
      Fail(source_->Label() + " is damaged: sheet '" + sourceSheet.name + "' has no part");
    std::set<std::string> dropped;
    const std::vector<ReferencedPart> relationships =
        CarryRelationships(sourceSheet.part, outputPart, index, dropped);
    SheetRewriteOptions options;
    const ReferenceContext context = ContextFor(index);
    options.context = &context;
    options.selected = index == activeSheet_;
    options.droppedRelationshipIds = dropped;
    options.literal = [this](std::string_view formula, bool list) { return LiteralOf(formula, list); };
    options.styleUse = &styleUse_;
    const std::uint64_t usesBefore = strings.Uses();
    auto file = TemporaryFile();
    SheetRewriteResult result = RewriteSheet(*source_, sheet.sourceIndex, options, strings, file.get());
    // Formulas the copy drops that were saved without a result: the sheet is copied again
    // with the results calculated for exactly those cells, or with why there are none.
    ResultCalculator::Results calculated;
    if (!result.missingResults.empty() && source_->Calculator() != nullptr) {
      calculated = source_->Calculator()->Calculate(*source_, sheet.sourceIndex, result.missingResults);
      if (calculated.cells.empty()) {
        // Nothing to write: only the report says more.
        const auto empty = result.losses.extract(FormulaLeftEmptyLoss(""));
        if (!empty.empty()) result.losses[FormulaLeftEmptyLoss(calculated.problem)] += empty.mapped();
      } else {
        options.computed = &calculated.cells;
        options.missingReason = calculated.problem;
        strings.RestoreUses(usesBefore);
        file = TemporaryFile();
        result = RewriteSheet(*source_, sheet.sourceIndex, options, strings, file.get());
      }
    }
    for (const auto& [what, count] : result.losses) losses_[what] += count;
    zip_.AddFile(outputPart, file.release());
    if (!relationships.empty()) zip_.AddBytes(RelationshipsPartOf(outputPart), RelationshipsXml(relationships));
    return result.usesMetadata;
  }

  // What a formula pointing at a range of a sheet the output lacks showed: a list literal
  // ("a,b,c", at most 255 characters, no item holding a comma) or a single value.
  std::optional<std::string> LiteralOf(std::string_view formula, bool list) const {
    const auto range = ParseSheetRange(formula);
    if (!range) return std::nullopt;
    const auto& sheets = source_->Sheets();
    std::size_t index = sheets.size();
    for (std::size_t i = 0; i < sheets.size(); ++i)
      if (sheets[i].kind == SheetKind::kWorksheet && EqualIgnoringCase(sheets[i].name, range->sheet)) index = i;
    if (index == sheets.size()) return std::nullopt;
    const std::vector<std::string> texts = ReadCellTexts(*source_, index, *range);
    if (texts.empty()) return std::nullopt;
    auto quoted = [](const std::string& text) {
      std::string out = "\"";
      for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
      return out + "\"";
    };
    if (!list) {
      if (texts.size() != 1) return std::nullopt;
      char* end = nullptr;
      std::strtod(texts[0].c_str(), &end);
      const bool number = !texts[0].empty() && end != nullptr && *end == '\0';
      return number ? texts[0] : quoted(texts[0]);
    }
    std::string items;
    for (const std::string& text : texts) {
      if (text.empty()) continue;
      if (text.find(',') != std::string::npos) return std::nullopt;
      items += (items.empty() ? "" : ",") + text;
    }
    if (items.empty() || CharacterCount(items) > 255) return std::nullopt;
    return quoted(items);
  }

  void CarryWorkbookParts(bool usesMetadata) {
    for (const Relationship& relationship : source_->Pkg().RelationshipsOf(source_->WorkbookPart())) {
      if (relationship.external || !source_->Pkg().Has(relationship.targetPart)) continue;
      const std::string_view kind = RelationshipKind(relationship.type);
      const bool wanted = (usesMetadata && IsMetadataKind(kind)) || (needsPersons_ && kind == "person");
      if (!wanted) continue;
      const std::string target = CarryPart(relationship.targetPart, SIZE_MAX);
      workbookRelationships_.push_back({"", relationship.type, RelativeTarget("xl/workbook.xml", target), false});
    }
  }

  void WriteStylesAndTheme() {
    std::optional<std::string> styles, theme;
    if (source_ != nullptr) {
      styles = source_->WorkbookPartOfKind("styles");
      theme = source_->WorkbookPartOfKind("theme");
    }
    if (styles && source_->Pkg().Zip().DecompressedSize(source_->Pkg().IndexOf(*styles)) <= limits::kMaxParsedPartBytes) {
      zip_.AddBytes("xl/styles.xml", std::string(kXmlDeclaration) + PrunedStyles(source_->Pkg().Read(*styles), styleUse_,
                                                                               source_->Label(), *styles));
    } else if (styles) {
      // A styles part too large to parse goes whole rather than not at all.
      zip_.AddRawCopy("xl/styles.xml", source_->Pkg().Zip(), source_->Pkg().IndexOf(*styles));
    }
    else zip_.AddBytes("xl/styles.xml", std::string(kXmlDeclaration) + kDefaultStyles);
    overrides_["xl/styles.xml"] = "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
    workbookRelationships_.push_back({"", std::string(kRelationshipTypeBase) + "styles", "styles.xml", false});
    if (theme) {
      zip_.AddRawCopy("xl/theme/theme1.xml", source_->Pkg().Zip(), source_->Pkg().IndexOf(*theme));
      overrides_["xl/theme/theme1.xml"] = "application/vnd.openxmlformats-officedocument.theme+xml";
      workbookRelationships_.push_back({"", std::string(kRelationshipTypeBase) + "theme", "theme/theme1.xml", false});
    }
  }

  void WriteWorkbookPart() {
    std::string xml = kXmlDeclaration;
    xml += "<workbook xmlns=\"";
    xml += kMainNamespace;
    xml += "\" xmlns:r=\"";
    xml += kRelationshipNamespace;
    xml += "\"";
    if (source_ != nullptr) xml += ExtraNamespaces(source_->WorkbookNamespaces());
    xml += ">";
    xml += source_ != nullptr && !source_->WorkbookPr().empty() ? source_->WorkbookPr() : "<workbookPr/>";
    if (source_ != nullptr) xml += source_->WorkbookProtection();
    xml += "<bookViews><workbookView";
    if (source_ != nullptr)
      for (const auto& [key, value] : source_->WorkbookViewAttributes()) xml += " " + key + "=\"" + Escaped(value) + "\"";
    xml += " activeTab=\"" + std::to_string(activeSheet_) + "\"/></bookViews><sheets>";
    for (std::size_t i = 0; i < sheets_.size(); ++i)
      xml += "<sheet name=\"" + Escaped(sheets_[i].name) + "\" sheetId=\"" + std::to_string(i + 1) +
             "\" r:id=\"rId" + std::to_string(i + 1) + "\"/>";
    xml += "</sheets>";
    if (const auto names = NamesToWrite(); !names.empty()) {
      xml += "<definedNames>";
      for (const CarriedName* name : names) {
        xml += "<definedName name=\"" + Escaped(name->source->name) + "\"";
        for (const auto& [key, value] : name->source->attributes) xml += " " + key + "=\"" + Escaped(value) + "\"";
        if (name->outputSheet) xml += " localSheetId=\"" + std::to_string(*name->outputSheet) + "\"";
        xml += ">";
        AppendEscapedText(xml, name->formula);
        xml += "</definedName>";
      }
      xml += "</definedNames>";
    }
    if (source_ != nullptr) xml += source_->CalcPr();
    // Relationship ids: sheets take rId1..n, the rest follow in order.
    std::size_t next = 1;
    for (auto& relationship : workbookRelationships_) relationship.id = "rId" + std::to_string(next++);
    if (!pivotCaches_.empty()) {
      xml += "<pivotCaches>";
      for (auto& [cacheId, relationship] : pivotCaches_) {
        relationship.id = "rId" + std::to_string(next++);
        xml += "<pivotCache cacheId=\"" + Escaped(cacheId) + "\" r:id=\"" + relationship.id + "\"/>";
        workbookRelationships_.push_back(relationship);
      }
      xml += "</pivotCaches>";
    }
    xml += "</workbook>";
    zip_.AddBytes("xl/workbook.xml", std::move(xml));
    zip_.AddBytes("xl/_rels/workbook.xml.rels", RelationshipsXml(workbookRelationships_));
    overrides_["xl/workbook.xml"] = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
  }

  // The source's namespace declarations other than the two the output declares itself.
  static std::string ExtraNamespaces(const std::string& declarations) {
    std::string extra;
    std::size_t at = 0;
    while ((at = declarations.find(" xmlns", at)) != std::string::npos) {
      const auto end = declarations.find('"', declarations.find('"', at) + 1);
      const std::string declaration = declarations.substr(at, end + 1 - at);
      if (declaration.rfind(" xmlns=", 0) != 0 && declaration.rfind(" xmlns:r=", 0) != 0) extra += declaration;
      at = end + 1;
    }
    return extra;
  }

  void WriteDocumentProperties() {
    std::vector<ReferencedPart> root = {
        {"rId1", std::string(kRelationshipTypeBase) + "officeDocument", "xl/workbook.xml", false},
        {"rId2", std::string(kRelationshipTypeBase) + "extended-properties", "docProps/app.xml", false}};
    // The producing application stays the source's: spreadsheet programs decide from it
    // whether the cached formula results can be trusted or must be recalculated on load.
    std::string application = "Microsoft Excel", appVersion = "16.0300";
    if (source_ != nullptr) {
      application.clear();
      appVersion.clear();
      for (const Relationship& relationship : source_->Pkg().RelationshipsOf("")) {
        if (relationship.external || RelationshipKind(relationship.type) != "extended-properties" ||
            !source_->Pkg().Has(relationship.targetPart))
          continue;
        pugi::xml_document properties;
        ParseXml(properties, source_->Pkg().Read(relationship.targetPart), source_->Label(), relationship.targetPart);
        application = ChildByLocalName(properties.document_element(), "Application").text().get();
        appVersion = ChildByLocalName(properties.document_element(), "AppVersion").text().get();
      }
    }
    std::string app = kXmlDeclaration;
    app += "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
           "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">";
    if (!application.empty()) {
      app += "<Application>";
      AppendEscapedText(app, application);
      app += "</Application>";
    }
    app += "<DocSecurity>0</DocSecurity><ScaleCrop>false</ScaleCrop>"
           "<HeadingPairs><vt:vector size=\"2\" baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant>"
           "<vt:variant><vt:i4>" + std::to_string(sheets_.size()) + "</vt:i4></vt:variant></vt:vector></HeadingPairs>"
           "<TitlesOfParts><vt:vector size=\"" + std::to_string(sheets_.size()) + "\" baseType=\"lpstr\">";
    for (const auto& sheet : sheets_) {
      app += "<vt:lpstr>";
      AppendEscapedText(app, sheet.name);
      app += "</vt:lpstr>";
    }
    app += "</vt:vector></TitlesOfParts><LinksUpToDate>false</LinksUpToDate><SharedDoc>false</SharedDoc>"
           "<HyperlinksChanged>false</HyperlinksChanged>";
    if (!appVersion.empty()) {
      app += "<AppVersion>";
      AppendEscapedText(app, appVersion);
      app += "</AppVersion>";
    }
    app += "</Properties>";
    zip_.AddBytes("docProps/app.xml", std::move(app));
    overrides_["docProps/app.xml"] = "application/vnd.openxmlformats-officedocument.extended-properties+xml";
    if (source_ != nullptr) {
      for (const Relationship& relationship : source_->Pkg().RelationshipsOf("")) {
        if (relationship.external || RelationshipKind(relationship.type) != "core-properties" ||
            !source_->Pkg().Has(relationship.targetPart))
          continue;
        zip_.AddRawCopy("docProps/core.xml", source_->Pkg().Zip(), source_->Pkg().IndexOf(relationship.targetPart));
        overrides_["docProps/core.xml"] = "application/vnd.openxmlformats-package.core-properties+xml";
        root.push_back({"rId3", relationship.type, "docProps/core.xml", false});
        break;
      }
    }
    zip_.AddBytes("_rels/.rels", RelationshipsXml(root));
  }

  void RecordContentType(const std::string& part, const std::string& type) {
    const std::string extension = Extension(part);
    if (source_ != nullptr) {
      const auto& defaults = source_->Pkg().DefaultContentTypes();
      const auto found = defaults.find(extension);
      if (found != defaults.end() && found->second == type) {
        defaults_[extension] = type;
        return;
      }
    }
    overrides_[part] = type.empty() ? "application/octet-stream" : type;
  }

  void WriteContentTypes() {
    defaults_["rels"] = "application/vnd.openxmlformats-package.relationships+xml";
    if (!defaults_.count("xml")) defaults_["xml"] = "application/xml";
    std::string xml = kXmlDeclaration;
    xml += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
    for (const auto& [extension, type] : defaults_)
      xml += "<Default Extension=\"" + Escaped(extension) + "\" ContentType=\"" + Escaped(type) + "\"/>";
    for (const auto& [part, type] : overrides_)
      xml += "<Override PartName=\"/" + Escaped(part) + "\" ContentType=\"" + Escaped(type) + "\"/>";
    xml += "</Types>";
    zip_.AddBytes("[Content_Types].xml", std::move(xml));
  }

  std::vector<std::string> Report() const {
    std::vector<std::string> lines;
    for (const auto& [what, count] : losses_) lines.push_back(std::to_string(count) + " " + what);
    return lines;
  }

  struct CarriedName {
    const DefinedName* source;
    std::optional<std::size_t> outputSheet;
    std::string formula;
    bool constant = false;           // workbook-level, referring to no sheet
    std::vector<std::string> uses;  // folded names its formula uses
  };

  const std::vector<OutputSheet>& sheets_;
  std::size_t activeSheet_;
  const SourceWorkbook* source_ = nullptr;
  ZipWriter zip_;
  std::map<std::string, std::string> outputNameOf_;  // folded source sheet name -> output name
  std::map<std::size_t, std::size_t> outputPositionOf_;
  std::set<std::string> tables_, globalNames_;
  std::map<std::size_t, std::set<std::string>> scopedNames_;
  std::vector<CarriedName> names_;
  mutable std::set<std::string> referencedNames_;  // folded names the sheets and parts use
  std::map<std::string, std::string> partNames_;  // source part -> output part
  std::set<std::string> taken_;                    // folded output part names in use
  std::set<std::string> workbookLevelParts_;       // filled on first use
  std::vector<ReferencedPart> workbookRelationships_;
  std::vector<std::pair<std::string, ReferencedPart>> pivotCaches_;
  std::map<std::string, std::string> defaults_, overrides_;
  std::map<std::string, int> losses_;
  StyleUse styleUse_;  // the styles the sheets and their parts name
  bool needsPersons_ = false;
  int carryDepth_ = 0;  // CarryPart calls under way
};

}  // namespace

std::vector<std::string> WriteWorkbook(const std::vector<OutputSheet>& sheets, std::size_t activeSheet,
                                       const std::string& path) {
  if (sheets.empty()) Fail(Quoted(path) + " cannot be written: a workbook needs at least one sheet");
  return Writer(sheets, activeSheet, path).Write();
}

}  // namespace tabrend::spreadsheet
