// What the formulas of an output may refer to, and the defined names it carries.
#include "spreadsheet/DefinedNames.h"

#include "spreadsheet/Text.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

// What one candidate name's formula comes to in the output.
struct OutputNames::NameReading {
  bool alive = true;                // it can come along
  std::string formula;              // rewritten for the output
  bool refersToSheet = false;       // names a sheet itself
  std::vector<std::string> uses;    // folded names it uses
};

OutputNames::OutputNames(const SourceWorkbook* source, const std::vector<OutputSheet>& sheets) {
  if (source == nullptr) return;
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (sheets[i].source == nullptr) continue;
    const std::string key = FoldCase(source->Sheets()[sheets[i].sourceIndex].name);
    outputNameOf_.emplace(key, sheets[i].name);
    if (!outputPositionOf_.count(sheets[i].sourceIndex)) outputPositionOf_[sheets[i].sourceIndex] = i;
  }
  for (std::size_t i = 0; i < sheets.size(); ++i)
    if (sheets[i].source != nullptr)
      for (const std::string& table : source->TableNames(sheets[i].sourceIndex)) tables_.insert(FoldCase(table));
  Carry(CandidatesOf(*source));
}

// Workbook-level names, and names scoped to a sheet the output has.
OutputNames::Candidates OutputNames::CandidatesOf(const SourceWorkbook& source) const {
  Candidates candidates;
  for (const DefinedName& name : source.Names()) {
    if (!name.localSheetId) {
      candidates.emplace_back(&name, std::nullopt);
      continue;
    }
    const auto position = outputPositionOf_.find(static_cast<std::size_t>(*name.localSheetId));
    if (position != outputPositionOf_.end()) candidates.emplace_back(&name, position->second);
  }
  return candidates;
}

// The candidates that can come along, each name once in its scope.
void OutputNames::Carry(const Candidates& candidates) {
  std::vector<NameReading> readings = ReadNames(candidates);
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (!readings[k].alive) continue;
    if (candidates[k].second) scopedNames_[*candidates[k].second].insert(FoldCase(candidates[k].first->name));
    else globalNames_.insert(FoldCase(candidates[k].first->name));
  }
  std::set<std::pair<std::string, std::size_t>> written;  // some writers repeat a name in one scope
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (!readings[k].alive) {
      ++dropped_;
      continue;
    }
    if (!written.emplace(FoldCase(candidates[k].first->name), candidates[k].second.value_or(kWorkbookScope)).second)
      continue;
    // A workbook-level name that refers to no sheet (a constant) goes only with an output
    // that uses it.
    const bool constant = !candidates[k].second && !readings[k].refersToSheet;
    names_.push_back({candidates[k].first, candidates[k].second, std::move(readings[k].formula), constant,
                      std::move(readings[k].uses)});
  }
}

// The carried names worth writing: all but the constants no sheet, part or written name uses.
std::vector<const OutputNames::CarriedName*> OutputNames::NamesToWrite() const {
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

// Which candidates can come along: those whose formulas refer only to what the output has,
// names included, where a name that uses a name which cannot come cannot come either. Each
// formula is read once and a death travels back along the uses, so a long chain of names
// costs time in proportion to its length, not its square.
std::vector<OutputNames::NameReading> OutputNames::ReadNames(const Candidates& candidates) const {
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

ReferenceContext OutputNames::ContextFor(std::size_t outputSheet) const {
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

std::optional<std::string> OutputNames::OutputSheetName(std::string_view sourceName) const {
  const auto found = outputNameOf_.find(FoldCase(sourceName));
  if (found == outputNameOf_.end()) return std::nullopt;
  return found->second;
}

bool OutputNames::HasTable(std::string_view name) const { return tables_.count(FoldCase(name)) > 0; }

bool OutputNames::HasWorkbookName(std::string_view name) const { return globalNames_.count(FoldCase(name)) > 0; }

std::string OutputNames::Xml() const {
  const std::vector<const CarriedName*> names = NamesToWrite();
  if (names.empty()) return {};
  std::string xml = "<definedNames>";
  for (const CarriedName* name : names) {
    xml += "<definedName name=\"";
    AppendEscapedAttribute(xml, name->source->name);
    xml += "\"";
    for (const auto& [key, value] : name->source->attributes) {
      xml += " " + key + "=\"";
      AppendEscapedAttribute(xml, value);
      xml += "\"";
    }
    if (name->outputSheet) xml += " localSheetId=\"" + std::to_string(*name->outputSheet) + "\"";
    xml += ">";
    AppendEscapedText(xml, name->formula);
    xml += "</definedName>";
  }
  xml += "</definedNames>";
  return xml;
}

}  // namespace tabrend::spreadsheet
