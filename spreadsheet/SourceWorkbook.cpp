// Reading the workbook part, its relationships and the shared-string table of a source.
#include "spreadsheet/SourceWorkbook.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <set>

#include "core/Error.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/OpenXml.h"
#include "spreadsheet/PartKinds.h"
#include "spreadsheet/StrictMarkup.h"
#include "spreadsheet/Xml.h"
#include "spreadsheet/XmlReader.h"

namespace tabrend::spreadsheet {

namespace {

// The markup a plain entry leaves out, by the kind its index entry notes (0: none, kept raw).
constexpr std::string_view kPlainOpenings[] = {"", "<si><t>", "<si><t xml:space=\"preserve\">"};
constexpr std::string_view kPlainClose = "</t></si>";
constexpr int kKindShift = 30;
constexpr std::uint32_t kLengthMask = (1u << kKindShift) - 1;
static_assert(limits::kMaxSharedStringTableBytes <= kLengthMask, "an entry's length must leave room for its kind");

}  // namespace

void SharedStringItems::AppendTo(std::size_t i, std::string& out) const {
  const Entry& entry = index_[i];
  const std::uint32_t kind = entry.length >> kKindShift;
  out += kPlainOpenings[kind];
  out.append(blocks_[entry.block], entry.offset, entry.length & kLengthMask);
  if (kind != 0) out += kPlainClose;
}

std::optional<std::string_view> SharedStringItems::PlainText(std::size_t i) const {
  const Entry& entry = index_[i];
  if (entry.length >> kKindShift == 0) return std::nullopt;
  return std::string_view(blocks_[entry.block]).substr(entry.offset, entry.length & kLengthMask);
}

void SharedStringItems::push_back(std::string_view item) {
  // Strings are kept in blocks of this size: few allocations, and little left unused.
  constexpr std::size_t kBlockBytes = 16u << 20;
  std::uint32_t kind = 0;
  if (item.size() >= kPlainClose.size() && item.substr(item.size() - kPlainClose.size()) == kPlainClose) {
    for (std::uint32_t k = 1; k < std::size(kPlainOpenings); ++k) {
      const std::string_view opening = kPlainOpenings[k];
      if (item.size() < opening.size() + kPlainClose.size() || item.substr(0, opening.size()) != opening) continue;
      const std::string_view text = item.substr(opening.size(), item.size() - opening.size() - kPlainClose.size());
      if (text.find('<') != std::string_view::npos) break;
      item = text;
      kind = k;
      break;
    }
  }
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < item.size()) {
    blocks_.emplace_back();
    blocks_.back().reserve(std::max(kBlockBytes, item.size()));
    heldBytes_ += blocks_.back().capacity();
  }
  std::string& block = blocks_.back();
  index_.push_back({static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(block.size()),
                    static_cast<std::uint32_t>(item.size()) | kind << kKindShift});
  block.append(item);
  heldBytes_ += sizeof(Entry);
}

namespace {

bool IsWorkbookContentType(std::string_view type) {
  return type == ooxml::type::kWorkbook || type == ooxml::type::kMacroWorkbook || type == ooxml::type::kTemplate ||
         type == ooxml::type::kMacroTemplate;
}

// The namespace declarations of a part's root element and its Markup Compatibility
// attributes (mc:Ignorable..., which name prefixes declared there), raw: what a copy of the
// root must keep for the rest of the part to read the same.
std::string RootDeclarations(const std::vector<std::pair<std::string_view, std::string_view>>& attributes) {
  std::string markupCompatibility;  // "mc:", as the root names that namespace
  for (const auto& [key, value] : attributes)
    if (key.rfind("xmlns:", 0) == 0 && value == ooxml::kMarkupCompatibilityNamespace)
      markupCompatibility = std::string(key.substr(6)) + ":";
  std::string declarations;
  for (const auto& [key, value] : attributes) {
    if (key == "xmlns" || key.rfind("xmlns:", 0) == 0 ||
        (!markupCompatibility.empty() && key.rfind(markupCompatibility, 0) == 0)) {
      declarations += " " + std::string(key) + "=\"";
      AppendEscapedAttribute(declarations, value);
      declarations += "\"";
    }
  }
  return declarations;
}

std::vector<std::pair<std::string, std::string>> AttributesOf(const pugi::xml_node& node) {
  std::vector<std::pair<std::string, std::string>> attributes;
  for (pugi::xml_attribute attribute : node.attributes())
    attributes.emplace_back(attribute.name(), attribute.value());
  return attributes;
}

// Collects each <si> of the shared-string table as its raw bytes.
class SharedStringReader : XmlReader::Handler {
 public:
  SharedStringReader(SharedStrings& strings, const std::string& label, const std::string& part)
      : strings_(strings), reader_(*this, label, part, XmlReader::kText | XmlReader::kRaw) {}

  void Read(const Package& package) { reader_.Read(package); }

 private:
  void OnStart(const XML_Char* name, const XML_Char** attributes) override {
    ++depth_;
    const std::string_view local = LocalName(name);
    if (depth_ == 1) {
      std::vector<std::pair<std::string_view, std::string_view>> root;
      for (int i = 0; attributes[i] != nullptr; i += 2) {
        const std::string_view key = attributes[i];
        // A table that says it is too large is refused before any of it is read.
        if (key == "uniqueCount" && std::strtoull(attributes[i + 1], nullptr, 10) > limits::kMaxSharedStrings)
          return reader_.Refuse("holds more than the allowed number of shared strings");
        root.emplace_back(key, attributes[i + 1]);
      }
      strings_.rootAttributes = RootDeclarations(root);
      return;
    }
    if (depth_ == 2 && local == "si") {
      if (strings_.items.size() >= limits::kMaxSharedStrings)
        return reader_.Refuse("holds more than the allowed number of shared strings");
      if (!Fits(0)) return;
      capturing_ = true;
      current_.clear();
    }
    if (capturing_) reader_.PassCurrent();
  }

  void OnEnd(const XML_Char*) override {
    if (capturing_) reader_.PassCurrent();
    if (depth_ == 2 && capturing_) {
      capturing_ = false;
      strings_.items.push_back(current_);
      current_.clear();
    }
    --depth_;
  }

  void OnText(const XML_Char*, int) override {
    if (capturing_) reader_.PassCurrent();
  }

  void OnRaw(const XML_Char* data, int length) override {
    if (!capturing_ || !Fits(current_.size() + static_cast<std::size_t>(length))) return;
    current_.append(data, static_cast<std::size_t>(length));
  }

  // False, with the reading stopped, when the table with `more` bytes of an entry being read
  // would outgrow its bound.
  bool Fits(std::uint64_t more) {
    if (strings_.items.HeldBytes() + more <= limits::kMaxSharedStringTableBytes) return true;
    capturing_ = false;
    reader_.Refuse("holds more shared strings than fit in " + std::to_string(limits::kMaxSharedStringTableBytes >> 20) +
                   " MiB");
    return false;
  }

  SharedStrings& strings_;
  XmlReader reader_;
  int depth_ = 0;
  bool capturing_ = false;
  std::string current_;
};

// Whether a streamed sheet part has a <c> with a <v>, <is> or <f> child: reads until the
// first. A part that cannot be read fails here as it would in the copy.
class CellContentFinder : XmlReader::Handler {
 public:
  CellContentFinder(const std::string& where, const std::string& part) : reader_(*this, where, part, XmlReader::kElements) {}

  bool Find(const Package& package) {
    reader_.Read(package);
    return found_;
  }

 private:
  void OnStart(const XML_Char* name, const XML_Char**) override {
    const std::string_view local = LocalName(name);
    if (inCell_ && (local == "v" || local == "is" || local == "f")) {
      found_ = true;
      reader_.Stop();
    }
    if (local == "c") inCell_ = true;
  }
  void OnEnd(const XML_Char* name) override {
    if (LocalName(name) == "c") inCell_ = false;
  }

  XmlReader reader_;
  bool inCell_ = false;
  bool found_ = false;
};

}  // namespace

namespace {

// By id, so that a workbook of many sheets costs no more than their number.
using RelationshipsById = std::map<std::string_view, const Relationship*>;

// The package's main part, checked to be a workbook package's.
std::string MainPartOf(const Package& package) {
  std::string part;
  for (const Relationship& relationship : package.RelationshipsOf("")) {
    if (RelationshipKind(relationship.type) == "officeDocument" && !relationship.external) {
      part = relationship.targetPart;
      break;
    }
  }
  const std::string& label = package.Label();
  if (part.empty()) Fail(ErrorReason::kNotAWorkbook, label + " is not a workbook: it has no main document part");
  if (!package.Has(part))
    Fail(ErrorReason::kNotAWorkbook, label + " is not a workbook: its workbook part " + part + " is missing");
  const std::string type = package.ContentType(part);
  if (type == ooxml::type::kBinaryWorkbook)
    Fail(ErrorReason::kUnsupported,
         label + " is a binary workbook (.xlsb), which cannot be opened as a workbook package");
  if (!IsWorkbookContentType(type))
    Fail(ErrorReason::kNotAWorkbook, label + " is not a workbook: its main part is of type '" + type + "'");
  return part;
}

// The namespace of the workbook element; throws for a pre-release workbook.
std::string RootNamespaceOf(const pugi::xml_node& root, const std::string& label) {
  // Excel 2007's beta wrote packages of the same shape in a namespace of its own, with
  // elements of other names (<sstItem> for <si>): read as the released format, their
  // strings and cells would be wrong.
  const std::string_view rootName = root.name();
  const std::size_t colon = rootName.find(':');
  const std::string rootNamespace =
      root.attribute(colon == std::string_view::npos ? "xmlns" : ("xmlns:" + std::string(rootName.substr(0, colon))).c_str())
          .value();
  if (rootNamespace == ooxml::kPreReleaseNamespace)
    Fail(ErrorReason::kUnsupported,
         label + " is a workbook in the pre-release format of Excel 2007 (namespace " + rootNamespace +
         "), which cannot be split");
  return rootNamespace;
}

SourceSheet ReadSheet(const pugi::xml_node& sheet, const RelationshipsById& byId) {
  SourceSheet entry;
  entry.name = sheet.attribute("name").value();
  entry.state = sheet.attribute("state").value();
  const std::string id = AttributeByLocalName(sheet, "id").value();
  if (id.empty()) {
    // A sheet with no part at all (an empty r:id, or none), such as an Excel 5 macro module
    // whose code now lives in the VBA project: not a worksheet, so it is listed and skipped
    // like a chart sheet.
    entry.kind = SheetKind::kMacrosheet;
    return entry;
  }
  const auto found = byId.find(id);
  // Listed without a part: it stays in the list, and copying it fails.
  if (found == byId.end() || found->second->external) return entry;
  const std::string_view kind = RelationshipKind(found->second->type);
  if (kind == "worksheet") entry.kind = SheetKind::kWorksheet;
  else if (kind == "chartsheet") entry.kind = SheetKind::kChartsheet;
  else if (kind == "dialogsheet") entry.kind = SheetKind::kDialogsheet;
  else entry.kind = SheetKind::kMacrosheet;
  entry.part = found->second->targetPart;
  return entry;
}

DefinedName ReadName(const pugi::xml_node& name) {
  DefinedName entry;
  entry.name = name.attribute("name").value();
  entry.formula = name.text().get();
  if (name.attribute("localSheetId")) entry.localSheetId = name.attribute("localSheetId").as_int();
  for (auto& attribute : AttributesOf(name))
    if (attribute.first != "name" && attribute.first != "localSheetId") entry.attributes.push_back(std::move(attribute));
  return entry;
}

}  // namespace

SourceWorkbook::SourceWorkbook(const std::string& path)
    : identity_(StampOf(path)), package_(path), workbookPart_(MainPartOf(package_)) {
  if (identity_ != StampOf(path)) identity_.reset();
  pugi::xml_document document;
  ParseXml(document, package_.Read(workbookPart_), Label(), workbookPart_);
  const pugi::xml_node root = document.document_element();
  if (LocalName(root) != "workbook")
    Fail(ErrorReason::kDamaged, Label() + " is damaged: part " + workbookPart_ + " is not a workbook part");
  strict_ = TransitionalNamespace(RootNamespaceOf(root, Label())) == ooxml::kMainNamespace;
  std::vector<std::pair<std::string_view, std::string_view>> rootAttributes;
  for (pugi::xml_attribute attribute : root.attributes()) rootAttributes.emplace_back(attribute.name(), attribute.value());
  workbookNamespaces_ = RootDeclarations(rootAttributes);
  RelationshipsById byId;
  for (const Relationship& relationship : package_.RelationshipsOf(workbookPart_))
    byId.emplace(relationship.id, &relationship);  // the first of a repeated id counts
  for (pugi::xml_node node : root.children()) {
    const std::string_view local = LocalName(node);
    if (local == "workbookPr") workbookPr_ = Serialize(node);
    else if (local == "calcPr") {
      calcPr_ = Serialize(node);
      const std::string_view full = node.attribute("fullCalcOnLoad").value();
      resultsArePlaceholders_ = full == "1" || full == "true";
    }
    else if (local == "workbookProtection") workbookProtection_ = Serialize(node);
    else if (local == "bookViews") {
      const pugi::xml_node view = ChildByLocalName(node, "workbookView");
      for (pugi::xml_attribute attribute : view.attributes()) {
        const std::string_view key = attribute.name();
        if (key != "activeTab" && key != "firstSheet") workbookView_.emplace_back(key, attribute.value());
      }
    } else if (local == "sheets") {
      for (pugi::xml_node sheet : node.children())
        if (LocalName(sheet) == "sheet") sheets_.push_back(ReadSheet(sheet, byId));
    } else if (local == "definedNames") {
      for (pugi::xml_node name : node.children())
        if (LocalName(name) == "definedName") names_.push_back(ReadName(name));
    } else if (local == "pivotCaches") {
      for (pugi::xml_node cache : node.children()) {
        const auto found = byId.find(AttributeByLocalName(cache, "id").value());
        if (found != byId.end() && !found->second->external)
          pivotCacheIds_[found->second->targetPart] = cache.attribute("cacheId").value();
      }
    }
  }
  if (sheets_.empty()) Fail(ErrorReason::kDamaged, Label() + " is damaged: it lists no sheets");
}

std::optional<std::string> SourceWorkbook::WorkbookPartOfKind(std::string_view kind) const {
  for (const Relationship& relationship : package_.RelationshipsOf(workbookPart_))
    if (!relationship.external && RelationshipKind(relationship.type) == kind && package_.Has(relationship.targetPart))
      return relationship.targetPart;
  return std::nullopt;
}

const std::vector<std::string>& SourceWorkbook::TableNames(std::size_t sheetIndex) const {
  const auto cached = tableNames_.find(sheetIndex);
  if (cached != tableNames_.end()) return cached->second;
  std::vector<std::string>& names = tableNames_[sheetIndex];
  for (const Relationship& relationship : package_.RelationshipsOf(sheets_[sheetIndex].part)) {
    if (relationship.external || RelationshipKind(relationship.type) != "table" ||
        !package_.Has(relationship.targetPart))
      continue;
    pugi::xml_document table;
    ParseXml(table, package_.Read(relationship.targetPart), Label(), relationship.targetPart);
    const pugi::xml_node root = table.document_element();
    names.push_back(root.attribute("displayName") ? root.attribute("displayName").value()
                                                  : root.attribute("name").value());
  }
  return names;
}

bool SourceWorkbook::SheetHasContent(std::size_t sheetIndex) const {
  const std::string& part = sheets_.at(sheetIndex).part;
  if (part.empty() || !package_.Has(part)) return false;
  for (const Relationship& relationship : package_.RelationshipsOf(part)) {
    if (relationship.external) continue;
    if (ShowsContent(RelationshipKind(relationship.type))) return true;
  }
  return CellContentFinder(Label() + ": sheet '" + sheets_.at(sheetIndex).name + "'", part).Find(package_);
}

// The string tables of open workbooks by file, for every thread. A table is never changed
// once read: threads share it as it stands.
// The string tables of open workbooks by file, for every thread. A table is never changed
// once read: threads share it as it stands, and a thread that needs a table another is
// reading waits for it rather than reading a second copy.
struct SourceWorkbook::SharedTables {
  std::mutex lock;
  std::condition_variable read;  // a table in `reading` is read, or failed
  std::map<FileStamp, std::weak_ptr<const SharedStrings>> byFile;
  std::set<FileStamp> reading;
  // Why the table of a file was refused: the file has not changed, so neither has the answer,
  // and it is not read again (a split that writes a sheet itself after its worker failed).
  std::map<FileStamp, AutomationError> refused;
};

namespace {

// Refusals remembered at most; more, and the oldest answers are read again when asked.
constexpr std::size_t kRefusalsKept = 64;

}  // namespace

SourceWorkbook::SharedTables& SourceWorkbook::Tables() {
  static auto* const tables = new SharedTables;  // never destroyed: workbooks may outlive statics
  return *tables;
}

const SharedStrings& SourceWorkbook::Strings() const {
  if (strings_) return *strings_;
  SharedTables& shared = Tables();
  if (identity_) {
    std::unique_lock lock(shared.lock);
    shared.read.wait(lock, [&] { return !shared.reading.contains(*identity_); });
    if (const auto found = shared.byFile.find(*identity_); found != shared.byFile.end()) strings_ = found->second.lock();
    if (strings_) return *strings_;
    if (const auto found = shared.refused.find(*identity_); found != shared.refused.end()) throw found->second;
    shared.reading.insert(*identity_);
  }
  struct Done {
    SharedTables& shared;
    const std::optional<FileStamp>& identity;
    std::shared_ptr<const SharedStrings>& strings;
    std::optional<AutomationError> refusal;
    ~Done() {
      if (!identity) return;
      std::lock_guard lock(shared.lock);
      if (strings) {
        std::erase_if(shared.byFile, [](const auto& entry) { return entry.second.expired(); });
        shared.byFile[*identity] = strings;
      } else if (refusal) {
        if (shared.refused.size() >= kRefusalsKept) shared.refused.clear();
        shared.refused.insert_or_assign(*identity, *refusal);
      }
      shared.reading.erase(*identity);
      shared.read.notify_all();
    }
  } done{shared, identity_, strings_, std::nullopt};
  try {
    strings_ = ReadStrings();
  } catch (const AutomationError& refusal) {
    done.refusal = refusal;
    throw;
  }
  return *strings_;
}

std::shared_ptr<const SharedStrings> SourceWorkbook::ReadStrings() const {
  auto strings = std::make_shared<SharedStrings>();
  if (const auto part = WorkbookPartOfKind("sharedStrings")) {
    // Streamed, but every entry is kept: the table is held whole, under that limit.
    const std::uint64_t index = package_.IndexOf(*part);
    if (package_.Zip().DecompressedSize(index) > limits::kMaxSharedStringsPartBytes)
      Fail(ErrorReason::kRefused, Label() + " is refused: part " + *part + " is larger than " +
           std::to_string(limits::kMaxSharedStringsPartBytes >> 20) + " MiB");
    SharedStringReader(*strings, Label(), *part).Read(package_);
  }
  return strings;
}

}  // namespace tabrend::spreadsheet
