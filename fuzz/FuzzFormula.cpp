// Formula references: RewriteFormula never crashes, and what it writes is stable. Rewriting
// with every sheet kept under its own name gives a text that the same rewrite returns
// unchanged; renaming every sheet and renaming it back gives that same text. Inputs with a
// sheet reference glued to the word before it are not held to either (see below).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "spreadsheet/Formula.h"

namespace {

using tabrend::spreadsheet::ReferenceContext;
using tabrend::spreadsheet::RewriteFormula;

// Renamed sheets start with a mark, so their references can be found in the output.
constexpr std::string_view kMark = "\x01";
constexpr std::string_view kSuffix = " x";

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '.' || c == '\\' || c == '?' || c == '$' || c == '\'' || c == '#' || u >= 0x80;
}

// A renamed reference written right after a word, a quote or a "#" reads back as one token with it
// ("x'Sheet x'!A1"), and one written after "word:" reads back as a 3-D reference
// ("A1:Sheet!B2"). No formula a spreadsheet program writes has a reference there, so such
// inputs are not held to the invariants.
bool ReferenceGluedToWord(const std::string& text) {
  for (std::size_t at = text.find(std::string("'") + std::string(kMark)); at != std::string::npos;
       at = text.find(std::string("'") + std::string(kMark), at + 1))
    if (at > 0 && (IsWordChar(text[at - 1]) || (text[at - 1] == ':' && at > 1 && IsWordChar(text[at - 2]))))
      return true;
  return false;
}

ReferenceContext Everything(std::function<std::optional<std::string>(std::string_view)> sheet) {
  ReferenceContext context;
  context.sheet = std::move(sheet);
  context.definedName = [](std::string_view) { return true; };
  context.table = [](std::string_view) { return true; };
  return context;
}

[[noreturn]] void Finding(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n  first:  [%s]\n  second: [%s]\n", what, a.c_str(), b.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const std::string formula(reinterpret_cast<const char*>(data), size);
  const ReferenceContext same = Everything([](std::string_view name) { return std::string(name); });
  if (formula.find(kMark) != std::string::npos) return 0;
  const ReferenceContext renamed =
      Everything([](std::string_view name) { return std::string(kMark) + std::string(name) + std::string(kSuffix); });
  const ReferenceContext back = Everything([](std::string_view name) -> std::optional<std::string> {
    if (name.size() < kMark.size() + kSuffix.size() || name.substr(0, kMark.size()) != kMark ||
        name.substr(name.size() - kSuffix.size()) != kSuffix)
      return std::nullopt;
    return std::string(name.substr(kMark.size(), name.size() - kMark.size() - kSuffix.size()));
  });
  ReferenceContext none;  // no sheet, name or table of the source exists
  none.sheet = [](std::string_view) { return std::nullopt; };
  none.definedName = [](std::string_view) { return false; };
  none.table = [](std::string_view) { return false; };
  (void)RewriteFormula(formula, none);

  const auto kept = RewriteFormula(formula, same);
  const auto there = RewriteFormula(formula, renamed);
  if (kept.has_value() != there.has_value()) Finding("renaming changed whether the formula is kept", formula, kept.value_or("(refused)"));
  if (!kept || ReferenceGluedToWord(*there)) return 0;
  const auto again = RewriteFormula(*kept, same);
  if (!again || *again != *kept) Finding("a rewritten formula is not stable", *kept, again.value_or("(refused)"));
  const auto home = RewriteFormula(*there, back);
  if (!home || *home != *kept) Finding("renaming there and back changed the formula", *kept, home.value_or("(refused)"));
  return 0;
}
