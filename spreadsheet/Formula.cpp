// A small formula scanner: it knows strings, quoted sheet names, external workbook indexes,
// structured references, error literals and numbers, and treats every other word by what
// follows it ("!" sheet, "(" function, "[" table) or by its shape (cell, column, name).
#include "spreadsheet/Formula.h"

#include <utility>

#include "spreadsheet/CellReference.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/Text.h"

namespace tabrend::spreadsheet {

namespace {

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return IsAsciiAlnum(c) || c == '_' || c == '.' || c == '\\' || c == '?' || c == '$' || u >= 0x80;
}

bool IsWordStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return IsAsciiLetter(c) || c == '_' || c == '\\' || c == '$' || u >= 0x80;
}

// $?letters{1,3} — a column of the grid (A to XFD).
bool IsColumn(std::string_view word) {
  if (!word.empty() && word.front() == '$') word.remove_prefix(1);
  if (word.empty() || word.size() > 3) return false;
  for (char c : word)
    if (!IsAsciiLetter(c)) return false;
  if (word.size() < 3) return true;
  // At most "XFD", compared letter by letter.
  constexpr std::string_view kLast = "XFD";
  for (std::size_t i = 0; i < kLast.size(); ++i)
    if (UpperAscii(word[i]) != kLast[i]) return UpperAscii(word[i]) < kLast[i];
  return true;
}

bool IsRow(std::string_view word) {
  if (!word.empty() && word.front() == '$') word.remove_prefix(1);
  if (word.empty() || word.size() > 7) return false;
  for (char c : word)
    if (!IsAsciiDigit(c)) return false;
  return true;
}

// $?col$?row
bool IsCell(std::string_view word) {
  std::size_t split = word.size();
  for (std::size_t i = 1; i < word.size(); ++i) {
    if (IsAsciiDigit(word[i]) || (word[i] == '$' && i > 0)) {
      split = i;
      break;
    }
  }
  return split < word.size() && IsColumn(word.substr(0, split)) && IsRow(word.substr(split));
}

// R1C1-looking words, which a sheet name must be quoted to avoid.
bool IsR1C1(std::string_view word) {
  std::size_t i = 0;
  auto digits = [&] {
    while (i < word.size() && IsAsciiDigit(word[i])) ++i;
  };
  if (i < word.size() && (word[i] == 'R' || word[i] == 'r')) {
    ++i;
    digits();
  }
  if (i < word.size() && (word[i] == 'C' || word[i] == 'c')) {
    ++i;
    digits();
  }
  return i == word.size() && !word.empty();
}

// Where the number starting at `at` (a digit) ends: "12", "2.5", "1E+5", "2.5e-3".
std::size_t NumberEnd(std::string_view formula, std::size_t at) {
  while (at < formula.size() && (IsAsciiDigit(formula[at]) || formula[at] == '.')) ++at;
  if (at + 1 < formula.size() && (formula[at] == 'E' || formula[at] == 'e') &&
      (IsAsciiDigit(formula[at + 1]) || formula[at + 1] == '+' || formula[at + 1] == '-')) {
    at += 2;
    while (at < formula.size() && IsAsciiDigit(formula[at])) ++at;
  }
  return at;
}

class Rewriter {
 public:
  // With writing false, it only tells whether the formula stays as written and stops, undecided,
  // at the first sheet prefix, whose renamed form it does not work out.
  Rewriter(std::string_view formula, const ReferenceContext& context, bool writing = true)
      : in_(formula), context_(context), writing_(writing) {}

  bool Undecided() const { return undecided_; }

  std::optional<std::string> Run() {
    if (writing_) out_.reserve(in_.size());
    while (at_ < in_.size()) {
      const char c = in_[at_];
      bool ok = true;
      if (c == '"') CopyString();
      else if (c == '\'') ok = QuotedSheet();
      else if (c == '[') ok = Bracket(true);
      else if (c == '#') ErrorLiteral();
      else if (IsAsciiDigit(c)) Number();
      else if (IsWordStart(c)) ok = Word();
      else Put(in_.substr(at_++, 1));
      if (!ok) return std::nullopt;
    }
    return std::move(out_);
  }

 private:
  void CopyString() {
    const std::size_t start = at_++;
    while (at_ < in_.size()) {
      if (in_[at_] == '"') {
        if (at_ + 1 < in_.size() && in_[at_ + 1] == '"') {
          at_ += 2;
          continue;
        }
        ++at_;
        break;
      }
      ++at_;
    }
    Put(in_.substr(start, at_ - start));
  }

  void ErrorLiteral() {
    const std::size_t start = at_++;
    while (at_ < in_.size() && (IsAsciiAlnum(in_[at_]) || in_[at_] == '/' || in_[at_] == '_')) ++at_;
    const bool open = !(at_ < in_.size() && (in_[at_] == '!' || in_[at_] == '?'));
    if (!open) ++at_;
    Put(in_.substr(start, at_ - start));
    if (open) openErrorLiteralEnd_ = out_.size();
  }

  void Number() {
    const std::size_t start = at_;
    at_ = NumberEnd(in_, at_);
    Put(in_.substr(start, at_ - start));
  }

  // A bracket group, nested, with "'" escaping the next character as structured references do.
  // At the start of a reference, "[digits]" names another workbook.
  bool Bracket(bool atReferenceStart) {
    const std::size_t start = at_;
    if (atReferenceStart) {
      std::size_t i = at_ + 1;
      while (i < in_.size() && IsAsciiDigit(in_[i])) ++i;
      if (i > at_ + 1 && i < in_.size() && in_[i] == ']') return false;  // [1]Sheet!A1, [1]!Name
    }
    int depth = 0;
    while (at_ < in_.size()) {
      const char c = in_[at_];
      if (c == '\'' && at_ + 1 < in_.size()) {
        at_ += 2;
        continue;
      }
      ++at_;
      if (c == '[') ++depth;
      if (c == ']' && --depth == 0) break;
    }
    Put(in_.substr(start, at_ - start));
    return true;
  }

  // 'Sheet name'!A1, 'First:Last'!A1, '[1]Sheet'!A1
  bool QuotedSheet() {
    std::string name;
    std::size_t i = at_ + 1;
    for (; i < in_.size(); ++i) {
      if (in_[i] == '\'') {
        if (i + 1 < in_.size() && in_[i + 1] == '\'') {
          name += '\'';
          ++i;
          continue;
        }
        break;
      }
      name += in_[i];
    }
    if (i >= in_.size() || i + 1 >= in_.size() || in_[i + 1] != '!') {
      // Not a sheet prefix: keep the text as it stands.
      Put(in_.substr(at_, i + 1 - at_));
      at_ = std::min(i + 1, in_.size());
      return true;
    }
    at_ = i + 2;
    return SheetPrefix(name);
  }

  // A sheet name written where it would read back as part of what comes before it: right
  // after a word ("x'Q1'!A1"), after "word:" ("A1:'Q1'!B2" would become a 3-D reference) or
  // after an unfinished error literal ("#N/'Q1'!A1"). There it keeps its quotes, whatever its
  // shape.
  std::string SheetNameHere(const std::string& name) const {
    const std::string written = FormulaSheetName(name);
    const std::size_t n = out_.size();
    const bool glued = n > 0 && (IsWordChar(out_[n - 1]) || out_[n - 1] == '\'' || out_[n - 1] == '#' ||
                                 (out_[n - 1] == ':' && n > 1 && IsWordChar(out_[n - 2])) ||
                                 openErrorLiteralEnd_ == n);
    if (!glued || written.front() == '\'') return written;
    return "'" + written + "'";  // a plain name holds no quote to double
  }

  bool SheetPrefix(const std::string& name) {
    if (!name.empty() && name.front() == '[') return false;  // another workbook
    if (!writing_) {
      undecided_ = true;
      return false;
    }
    const auto colon = name.find(':');
    if (colon != std::string::npos) {
      // A 3-D reference keeps working only when it spans the one sheet the output has.
      const auto first = context_.sheet(name.substr(0, colon));
      const auto last = context_.sheet(name.substr(colon + 1));
      if (!first || !last || *first != *last) return false;
      out_ += SheetNameHere(*first) + "!";
      afterSheet_ = true;
      return true;
    }
    const auto renamed = context_.sheet(name);
    if (!renamed) return false;
    out_ += SheetNameHere(*renamed) + "!";
    afterSheet_ = true;
    return true;
  }

  bool Word() {
    const std::size_t start = at_;
    while (at_ < in_.size() && IsWordChar(in_[at_])) ++at_;
    std::string_view word = in_.substr(start, at_ - start);
    const bool qualified = afterSheet_;
    afterSheet_ = false;
    if (at_ < in_.size() && in_[at_] == '!') {
      ++at_;
      return SheetPrefix(std::string(word));
    }
    // Sheet1:Sheet3!A1, unquoted 3-D reference
    if (at_ < in_.size() && in_[at_] == ':' && !qualified) {
      std::size_t j = at_ + 1;
      while (j < in_.size() && IsWordChar(in_[j])) ++j;
      if (j < in_.size() && in_[j] == '!' && j > at_ + 1) {
        const std::string name = std::string(word) + ":" + std::string(in_.substr(at_ + 1, j - at_ - 1));
        at_ = j + 1;
        return SheetPrefix(name);
      }
    }
    Put(word);
    if (at_ < in_.size() && in_[at_] == '(') return true;  // function
    if (at_ < in_.size() && in_[at_] == '[') {             // Table[Column]
      if (!qualified && !context_.table(word)) return false;
      return Bracket(false);
    }
    if (qualified) return true;  // a cell, range or sheet-level name of a sheet the output has
    if (IsCell(word) || IsColumn(word) || IsRow(word)) return true;  // A1, A:A, $1:$2 (asked first: most words are)
    const std::string folded = FoldCase(word);
    if (folded == "true" || folded == "false") return true;
    if (folded.rfind("_xlpm.", 0) == 0) return true;  // LET and LAMBDA parameters
    return context_.definedName(word);
  }

  void Put(std::string_view text) {
    if (writing_) out_.append(text);
  }

  std::string_view in_;
  const ReferenceContext& context_;
  const bool writing_;
  bool undecided_ = false;
  std::string out_;
  std::size_t at_ = 0;
  bool afterSheet_ = false;
  std::size_t openErrorLiteralEnd_ = std::string::npos;  // where out_ ended after "#..." without "!"
};

// Whether the formula holds only numbers, operators, cell, column and row references and
// function names ("B3*2", "SUM($A1:A9)/2"): such a formula stays as written whatever the output
// holds. One pass without the rewriter, for the formulas of nearly every cell; false leaves the
// judgement to the rewriter, which reads numbers and words the same way.
bool OnlyCellsAndFunctions(std::string_view formula) {
  const std::size_t size = formula.size();
  std::size_t at = 0;
  while (at < size) {
    const char c = formula[at];
    if (IsAsciiDigit(c)) {
      at = NumberEnd(formula, at);
    } else if (IsAsciiLetter(c) || c == '$') {
      const std::size_t start = at;
      while (at < size && (IsAsciiAlnum(formula[at]) || formula[at] == '$' || formula[at] == '.')) ++at;
      const std::string_view word = formula.substr(start, at - start);
      const bool function = at < size && formula[at] == '(';
      if (!function && !IsCell(word) && !IsColumn(word) && !IsRow(word)) return false;
    } else {
      switch (c) {
        case ' ': case '+': case '-': case '*': case '/': case '^': case '&': case '=':
        case '<': case '>': case ',': case ';': case ':': case '(': case ')': case '%':
          ++at;
          break;
        default:
          return false;  // strings, sheet names, brackets, errors and anything else
      }
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> RewriteFormula(std::string_view formula, const ReferenceContext& context) {
  return Rewriter(formula, context).Run();
}

bool FormulaStaysAsWritten(std::string_view formula, const ReferenceContext& context) {
  if (OnlyCellsAndFunctions(formula)) return true;
  // Everything but a sheet prefix goes on as written, or makes the formula go.
  Rewriter check(formula, context, false);
  if (check.Run()) return true;
  if (!check.Undecided()) return false;
  const auto rewritten = RewriteFormula(formula, context);
  return rewritten && *rewritten == formula;
}

namespace {

// "XFD" and "1048576" are the longest a column and a row in the grid are written; the row is
// read no further, so its number cannot overflow.
constexpr std::size_t kMaxColumnLetters = 3;
constexpr std::size_t kMaxRowDigits = 8;

// "$A$1" -> (row 1, column 1); false for anything else.
bool ParseCell(std::string_view text, std::uint32_t& row, std::uint32_t& column) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '$') ++i;
  const std::size_t letters = ReadColumn(text.substr(i), column);
  i += letters;
  if (letters == 0 || letters > kMaxColumnLetters) return false;
  if (i < text.size() && text[i] == '$') ++i;
  row = 0;
  const std::size_t digits = i;
  while (i < text.size() && IsAsciiDigit(text[i]) && i - digits < kMaxRowDigits)
    row = row * 10 + static_cast<std::uint32_t>(text[i++] - '0');
  return i == text.size() && i > digits && row > 0 && column <= limits::kMaxColumns && row <= limits::kMaxRows;
}

}  // namespace

std::optional<SheetRange> ParseSheetRange(std::string_view formula) {
  if (!formula.empty() && formula.front() == '=') formula.remove_prefix(1);
  SheetRange range;
  std::size_t at = 0;
  if (!formula.empty() && formula.front() == '\'') {
    for (at = 1; at < formula.size(); ++at) {
      if (formula[at] == '\'') {
        if (at + 1 < formula.size() && formula[at + 1] == '\'') {
          range.sheet += '\'';
          ++at;
          continue;
        }
        break;
      }
      range.sheet += formula[at];
    }
    ++at;
  } else {
    while (at < formula.size() && formula[at] != '!') range.sheet += formula[at++];
  }
  if (range.sheet.empty() || at >= formula.size() || formula[at] != '!') return std::nullopt;
  const std::string_view cells = formula.substr(at + 1);
  const auto colon = cells.find(':');
  if (!ParseCell(cells.substr(0, colon), range.firstRow, range.firstColumn)) return std::nullopt;
  range.lastRow = range.firstRow;
  range.lastColumn = range.firstColumn;
  if (colon != std::string_view::npos && !ParseCell(cells.substr(colon + 1), range.lastRow, range.lastColumn))
    return std::nullopt;
  if (range.lastRow < range.firstRow) std::swap(range.lastRow, range.firstRow);
  if (range.lastColumn < range.firstColumn) std::swap(range.lastColumn, range.firstColumn);
  return range;
}

std::string FormulaSheetName(std::string_view sheetName) {
  bool plain = !sheetName.empty() && (IsAsciiLetter(sheetName[0]) || sheetName[0] == '_');
  for (char c : sheetName)
    if (!(IsAsciiAlnum(c) || c == '_' || c == '.')) plain = false;
  if (plain && (IsCell(sheetName) || IsR1C1(sheetName) || EqualIgnoringCase(sheetName, "true") ||
                EqualIgnoringCase(sheetName, "false")))
    plain = false;
  if (plain) return std::string(sheetName);
  std::string quoted = "'";
  for (char c : sheetName) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

}  // namespace tabrend::spreadsheet
