// Number format codes: parsing a code into sections of tokens, and showing a value through
// the section its value selects.
#include "spreadsheet/NumberFormat.h"

#include <charconv>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "spreadsheet/Text.h"

namespace tabrend::spreadsheet {

namespace {

enum class Kind {
  kLiteral,     // text shown as it is
  kDigit,       // 0 # ?
  kPoint,       // the decimal point
  kGroup,       // a comma between digit placeholders: thousands grouping
  kPercent,
  kExponent,    // E+ or E-; text holds the sign character
  kSlash,       // the fraction bar
  kDate,        // y m d h s (text holds the letters, lower-cased), "ampm", "ap"
  kElapsed,     // [h] [m] [s]: text holds the letters
  kSubsecond,   // .0 .00 .000 after seconds: text holds the zeros
  kText,        // @
  kGeneral,
};

struct Token {
  Kind kind;
  std::string text;
};

enum class Compare { kNone, kLess, kLessEqual, kGreater, kGreaterEqual, kEqual, kNotEqual };

bool Holds(Compare op, double value, double operand) {
  switch (op) {
    case Compare::kLess: return value < operand;
    case Compare::kLessEqual: return value <= operand;
    case Compare::kGreater: return value > operand;
    case Compare::kGreaterEqual: return value >= operand;
    case Compare::kEqual: return value == operand;
    case Compare::kNotEqual: return value != operand;
    case Compare::kNone: return true;
  }
  return true;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (Lower(text[at + i]) != Lower(word[i])) return false;
  return true;
}

// Bytes of the UTF-8 character at `at` (0 past the end).
std::size_t CharacterLength(std::string_view text, std::size_t at) {
  if (at >= text.size()) return 0;
  std::size_t n = 1;
  if (static_cast<unsigned char>(text[at]) >= 0xC0)
    while (at + n < text.size() && (static_cast<unsigned char>(text[at + n]) & 0xC0) == 0x80) ++n;
  return n;
}

// "_x" leaves room for x: as many blanks as x is wide in LibreOffice's rough measure (two
// for any character beyond ASCII).
std::size_t BlankWidth(std::string_view text, std::size_t at) {
  static constexpr unsigned char kWidths[96] = {
      1, 1, 2, 2, 3, 2, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 2, 2, 2, 2,
      3, 2, 2, 2, 2, 2, 2, 3, 2, 1, 2, 2, 2, 3, 3, 3, 2, 3, 2, 2, 2, 2, 2, 3, 2, 2, 2, 1, 1, 1, 2, 2,
      1, 2, 2, 2, 2, 2, 1, 2, 2, 1, 1, 2, 1, 3, 2, 2, 2, 2, 1, 2, 1, 2, 2, 2, 2, 2, 2, 1, 1, 1, 2, 1};
  if (at >= text.size()) return 0;
  const auto c = static_cast<unsigned char>(text[at]);
  if (c < 32) return 0;
  return c < 128 ? kWidths[c - 32] : 2;
}

constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDays = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian calendar).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// |value| as printf's "%.14e" writes it (the shortest exact rounding to 15 significant
// digits), without printf's cost: the digits and the power of ten of the first.
struct Significant {
  char digits[15];
  int exponent;
};

Significant SignificantDigits(double value) {
  Significant out{};
  char buffer[48];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer - 1, std::fabs(value), std::chars_format::scientific, 14);
  if (written.ec != std::errc() || !std::isfinite(value)) {
    std::memset(out.digits, '0', sizeof out.digits);
    return out;
  }
  out.digits[0] = buffer[0];
  std::memcpy(out.digits + 1, buffer + 2, 14);  // "d.dddddddddddddde+XX"
  int exponent = 0;
  for (const char* p = buffer + 18; p < written.ptr; ++p) exponent = exponent * 10 + (*p - '0');
  out.exponent = buffer[17] == '-' ? -exponent : exponent;
  return out;
}

// The significant digits of a number's magnitude, from its text where that has them.
Significant DigitsOf(const WrittenNumber& number) {
  if (!number.digitsKnown) return SignificantDigits(number.value);
  Significant out;
  std::memcpy(out.digits, number.digits, sizeof out.digits);
  out.exponent = number.exponent;
  return out;
}

// Bytes RoundedDigits may write for a number whose first digit stands at 10^exponent.
std::size_t RoundedLength(int exponent, int decimals) {
  return static_cast<std::size_t>(std::max(exponent + decimals + 2, decimals + 1)) + 1;
}

// The decimal digits of a number rounded to 15 significant digits (as the spreadsheet keeps
// them), then to `decimals` places, halves away from zero: the number times 10^decimals as a
// whole number, written to out with at least decimals + 1 digits, zeros in front. Returns how
// many it wrote, at most RoundedLength.
std::size_t RoundedDigits(bool zero, const Significant& significant, int decimals, char* out) {
  std::string_view digits(significant.digits, sizeof significant.digits);
  int exponent = significant.exponent;
  if (zero) exponent = 0, digits = "0";
  // digits[0] stands at 10^exponent. Keep those at or above 10^-decimals.
  const long keep = static_cast<long>(exponent) + 1 + decimals;
  std::size_t n = 1;
  if (keep <= 0) {
    out[0] = keep == 0 && digits[0] >= '5' ? '1' : '0';
  } else {
    n = static_cast<std::size_t>(std::min<long>(keep, static_cast<long>(digits.size())));
    std::memcpy(out, digits.data(), n);
    if (static_cast<long>(n) < keep) {
      std::memset(out + n, '0', static_cast<std::size_t>(keep) - n);
      n = static_cast<std::size_t>(keep);
    } else if (static_cast<std::size_t>(keep) < digits.size() && digits[static_cast<std::size_t>(keep)] >= '5') {
      std::size_t i = n;
      while (i > 0 && out[i - 1] == '9') out[--i] = '0';
      if (i == 0) {
        std::memmove(out + 1, out, n++);
        out[0] = '1';
      } else {
        ++out[i - 1];
      }
    }
  }
  if (static_cast<long>(n) <= decimals) {
    const std::size_t zeros = static_cast<std::size_t>(decimals) + 1 - n;
    std::memmove(out + zeros, out, n);
    std::memset(out, '0', zeros);
    n += zeros;
  }
  return n;
}

// RoundedDigits as the integer digits ("0" for none) and exactly `decimals` fraction digits.
void FixedDigits(double value, const Significant& significant, int decimals, std::string& integer, std::string& fraction) {
  std::string kept(RoundedLength(significant.exponent, decimals), '0');
  kept.resize(RoundedDigits(value == 0, significant, decimals, kept.data()));
  const std::size_t point = kept.size() - static_cast<std::size_t>(decimals);
  fraction.assign(kept, point);
  const std::size_t first = kept.find_first_not_of('0');
  if (first >= point) integer = "0";
  else integer.assign(kept, first, point - first);
}

std::string Grouped(const std::string& digits) {
  std::string out;
  const std::size_t n = digits.size();
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[i];
    if (i + 1 < n && (n - i - 1) % 3 == 0) out += ',';
  }
  return out;
}

// Scientific text of a positive number: 15 significant digits, trailing zeros dropped.
std::string Scientific(double magnitude, int minExponentDigits) {
  const Significant significant = SignificantDigits(magnitude);
  std::string mantissa = std::string(1, significant.digits[0]) + "." + std::string(significant.digits + 1, 14);
  const int exponent = significant.exponent;
  while (mantissa.back() == '0') mantissa.pop_back();
  if (mantissa.back() == '.') mantissa.pop_back();
  std::string digits = std::to_string(std::abs(exponent));
  if (static_cast<int>(digits.size()) < minExponentDigits) digits.insert(0, static_cast<std::size_t>(minExponentDigits) - digits.size(), '0');
  return mantissa + (exponent < 0 ? "E-" : "E+") + digits;
}

}  // namespace

std::string FormatGeneral(double value) {
  std::string text;
  WrittenNumber number;
  number.value = value;
  AppendGeneral(text, number);
  return text;
}

void AppendGeneral(std::string& out, const WrittenNumber& number) {
  const double value = number.value;
  if (std::isnan(value) || std::isinf(value)) {
    out += "#NUM!";
    return;
  }
  if (value == 0) {
    out += '0';
    return;
  }
  if (value < 0) out += '-';
  const double magnitude = std::fabs(value);
  constexpr double kTwoTo53 = 9007199254740992.0;
  if (magnitude < kTwoTo53 && (magnitude == std::floor(magnitude) || magnitude >= 1e15)) {
    if (number.digitsKnown && magnitude == std::floor(magnitude)) {
      // A whole number below 2^53 has at most 16 digits, the 16th a zero when its text had 15.
      const int count = number.exponent + 1;
      out.append(number.digits, static_cast<std::size_t>(std::min(count, 15)));
      if (count > 15) out += '0';
      return;
    }
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, 0);
    out.append(buffer, written.ptr);
    return;
  }
  if (magnitude >= 1e15) {
    out += Scientific(magnitude, 3);
    return;
  }
  const Significant significant = DigitsOf(number);
  const char* const digits = significant.digits;
  const int exponent = significant.exponent;
  int count = sizeof significant.digits;
  while (count > 1 && digits[count - 1] == '0') --count;
  const int decimals = count - 1 - exponent;
  if (magnitude < 1e-4 && (exponent <= -10 || decimals > 20)) {
    out += Scientific(magnitude, 2);
    return;
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits, static_cast<std::size_t>(count));
  } else if (count <= exponent + 1) {
    out.append(digits, static_cast<std::size_t>(count));
    out.append(static_cast<std::size_t>(exponent + 1 - count), '0');
  } else {
    out.append(digits, static_cast<std::size_t>(exponent + 1));
    out += '.';
    out.append(digits + exponent + 1, static_cast<std::size_t>(count - exponent - 1));
  }
}

namespace {

// A plain decimal of at most 15 significant digits, read with its digits: its double is the
// digits as a whole number divided by an exact power of ten, one correctly rounded step, so it
// is the double from_chars reads.
bool ReadPlainDecimal(std::string_view text, WrittenNumber& number) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr int kMostPlaces = 22;
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  if (p == end || !IsAsciiDigit(*p)) return false;
  while (p != end && *p == '0') ++p;
  std::uint64_t whole = 0;
  int count = 0, integerDigits = 0, leadingZeros = 0, places = 0;
  for (; p != end && IsAsciiDigit(*p); ++p, ++integerDigits) {
    if (count == 15) return false;
    number.digits[count++] = *p;
    whole = whole * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  if (p != end && *p == '.') {
    const char* const fraction = ++p;
    if (count == 0)
      while (p != end && *p == '0') ++p, ++leadingZeros;
    for (; p != end && IsAsciiDigit(*p); ++p) {
      if (count == 15) return false;
      number.digits[count++] = *p;
      whole = whole * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    places = static_cast<int>(p - fraction);
    if (places == 0 || places > kMostPlaces) return false;
  }
  if (p != end) return false;
  std::memset(number.digits + count, '0', sizeof number.digits - static_cast<std::size_t>(count));
  number.value = static_cast<double>(whole) / kPowers[places];
  if (negative) number.value = -number.value;
  number.exponent = count == 0 ? 0 : integerDigits > 0 ? integerDigits - 1 : -(leadingZeros + 1);
  number.digitsKnown = true;
  return true;
}

}  // namespace

bool ReadWrittenNumber(std::string_view text, WrittenNumber& number) {
  if (ReadPlainDecimal(text, number)) return true;
  number.digitsKnown = false;
  number.value = 0;
  const char* const end = text.data() + text.size();
  const auto read = std::from_chars(text.data(), end, number.value);
  return read.ec == std::errc() && read.ptr == end;
}

std::string_view BuiltInNumberFormat(unsigned id) {
  switch (id) {
    case 1: return "0";
    case 2: return "0.00";
    case 3: return "#,##0";
    case 4: return "#,##0.00";
    case 5: case 6: return "\"$\"#,##0_);(\"$\"#,##0)";
    case 7: case 8: return "\"$\"#,##0.00_);(\"$\"#,##0.00)";
    case 9: return "0%";
    case 10: return "0.00%";
    case 11: return "0.00E+00";
    case 12: return "# ?/?";
    case 13: return "# ?\?/?\?";
    case 14: return "m/d/yyyy";
    case 15: return "d-mmm-yy";
    case 16: return "d-mmm";
    case 17: return "mmm-yy";
    case 18: return "h:mm AM/PM";
    case 19: return "h:mm:ss AM/PM";
    case 20: return "hh:mm";
    case 21: return "hh:mm:ss";
    case 22: return "m/d/yyyy h:mm";
    case 27: case 28: case 29: case 30: case 31: case 36: return "m/d/yyyy";
    case 32: case 33: case 34: case 35: return "hh:mm:ss";
    case 37: case 38: return "#,##0_);(#,##0)";
    case 39: case 40: return "#,##0.00_);(#,##0.00)";
    case 41: return "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)";
    case 42: return "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)";
    case 43: return "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)";
    case 44: return "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)";
    case 45: return "mm:ss";
    case 46: return "[h]:mm:ss";
    case 47: return "mm:ss.0";
    case 48: return "##0.0E+0";
    case 49: return "@";
    default: return "General";
  }
}

struct NumberFormat::Section {
  std::vector<Token> tokens;
  Compare op = Compare::kNone;
  double operand = 0;
  bool isDate = false, isText = false, isGeneral = false, ampm = false;
  // Number layout, counted while parsing.
  int integerDigits = 0, fractionDigits = 0, scale = 0, percents = 0;
  bool grouping = false, exponent = false, fraction = false;
};

namespace {

using Section = NumberFormat::Section;

// Appends text to the section's literal text, joining it to a literal just before.
void AppendLiteral(std::vector<Token>& tokens, std::string text) {
  if (!tokens.empty() && tokens.back().kind == Kind::kLiteral) tokens.back().text += text;
  else tokens.push_back({Kind::kLiteral, std::move(text)});
}

// A bracketed tag of a section (without its brackets): a condition, a currency, elapsed time.
void ReadTag(std::string_view tag, Section& section) {
  if (tag.empty()) return;
  if (tag[0] == '<' || tag[0] == '>' || tag[0] == '=') {
    std::size_t at = 1;
    if (tag[0] == '<' && tag.size() > 1 && tag[1] == '=') section.op = Compare::kLessEqual, at = 2;
    else if (tag[0] == '<' && tag.size() > 1 && tag[1] == '>') section.op = Compare::kNotEqual, at = 2;
    else if (tag[0] == '>' && tag.size() > 1 && tag[1] == '=') section.op = Compare::kGreaterEqual, at = 2;
    else section.op = tag[0] == '<' ? Compare::kLess : tag[0] == '>' ? Compare::kGreater : Compare::kEqual;
    section.operand = std::strtod(std::string(tag.substr(at)).c_str(), nullptr);
  } else if (tag[0] == '$') {
    const auto dash = tag.find('-');
    AppendLiteral(section.tokens, std::string(tag.substr(1, dash == std::string_view::npos ? std::string_view::npos : dash - 1)));
  } else if (Lower(tag[0]) == 'h' || Lower(tag[0]) == 'm' || Lower(tag[0]) == 's') {
    bool same = true;
    for (const char t : tag) same = same && Lower(t) == Lower(tag[0]);
    if (same) {
      std::string letters;
      for (const char t : tag) letters += Lower(t);
      section.tokens.push_back({Kind::kElapsed, letters});
      section.isDate = true;
    }
  }
  // colours and other tags show nothing
}

// The tokens of a section's code, in order, with what they say of the section.
void Tokenize(std::string_view code, Section& section) {
  auto& tokens = section.tokens;
  for (std::size_t i = 0; i < code.size();) {
    const char c = code[i];
    const char lower = Lower(c);
    if (c == '"') {
      const auto end = code.find('"', i + 1);
      AppendLiteral(tokens, std::string(code.substr(i + 1, (end == std::string_view::npos ? code.size() : end) - i - 1)));
      i = end == std::string_view::npos ? code.size() : end + 1;
    } else if (c == '\\' || c == '!') {
      const std::size_t n = CharacterLength(code, i + 1);
      AppendLiteral(tokens, std::string(code.substr(std::min(i + 1, code.size()), n)));
      i += 1 + n;
    } else if (c == '_') {
      AppendLiteral(tokens, std::string(BlankWidth(code, i + 1), ' '));
      i += 1 + CharacterLength(code, i + 1);
    } else if (c == '*') {
      i += 1 + CharacterLength(code, i + 1);  // no column width to fill
    } else if (c == '[') {
      const auto end = code.find(']', i);
      const std::string_view tag = code.substr(i + 1, (end == std::string_view::npos ? code.size() : end) - i - 1);
      i = end == std::string_view::npos ? code.size() : end + 1;
      ReadTag(tag, section);
    } else if (StartsWithNoCase(code, i, "general")) {
      tokens.push_back({Kind::kGeneral, {}});
      section.isGeneral = true;
      i += 7;
    } else if (StartsWithNoCase(code, i, "am/pm")) {
      tokens.push_back({Kind::kDate, "ampm"});
      section.isDate = section.ampm = true;
      i += 5;
    } else if (StartsWithNoCase(code, i, "a/p")) {
      tokens.push_back({Kind::kDate, "ap"});
      section.isDate = section.ampm = true;
      i += 3;
    } else if (c == '0' || c == '#' || c == '?') {
      tokens.push_back({Kind::kDigit, std::string(1, c)});
      ++i;
    } else if (c == '.') {
      // After seconds, ".0" is a fraction of a second.
      std::size_t zeros = 0;
      while (i + 1 + zeros < code.size() && code[i + 1 + zeros] == '0') ++zeros;
      if (section.isDate && zeros > 0) {
        tokens.push_back({Kind::kSubsecond, std::string(zeros, '0')});
        i += 1 + zeros;
      } else {
        tokens.push_back({Kind::kPoint, {}});
        ++i;
      }
    } else if (c == ',') {
      tokens.push_back({Kind::kGroup, {}});
      ++i;
    } else if (c == '%') {
      tokens.push_back({Kind::kPercent, {}});
      ++i;
    } else if (lower == 'e' && i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-')) {
      tokens.push_back({Kind::kExponent, std::string(1, code[i + 1])});
      i += 2;
    } else if (c == '/' && !section.isDate) {
      tokens.push_back({Kind::kSlash, {}});
      ++i;
    } else if (c == '@') {
      tokens.push_back({Kind::kText, {}});
      section.isText = true;
      ++i;
    } else if (lower == 'y' || lower == 'm' || lower == 'd' || lower == 'h' || lower == 's' ||
               (lower == 'e' && section.isDate)) {
      std::size_t n = 1;
      while (i + n < code.size() && Lower(code[i + n]) == lower) ++n;
      tokens.push_back({Kind::kDate, std::string(n, lower == 'e' ? 'y' : lower)});
      section.isDate = true;
      i += n;
    } else {
      // Multi-byte characters pass through whole.
      std::size_t n = 1;
      if (static_cast<unsigned char>(c) >= 0xC0)
        while (i + n < code.size() && (static_cast<unsigned char>(code[i + n]) & 0xC0) == 0x80) ++n;
      AppendLiteral(tokens, std::string(code.substr(i, n)));
      i += n;
    }
  }

}

// A date section's tokens as a date reads them.
void ReadAsDate(std::vector<Token>& tokens) {
  // In a date, commas, points and digits are text.
  std::vector<Token> merged;
  for (Token& t : tokens) {
    if (t.kind == Kind::kGroup) t = {Kind::kLiteral, ","};
    else if (t.kind == Kind::kPoint) t = {Kind::kLiteral, "."};
    else if (t.kind == Kind::kSlash) t = {Kind::kLiteral, "/"};
    else if (t.kind == Kind::kPercent) t = {Kind::kLiteral, "%"};
    else if (t.kind == Kind::kDigit) t.kind = Kind::kLiteral;
    if (t.kind == Kind::kLiteral && !merged.empty() && merged.back().kind == Kind::kLiteral) merged.back().text += t.text;
    else merged.push_back(std::move(t));
  }
  tokens = std::move(merged);
  // "m" next to hours or seconds means minutes.
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].kind != Kind::kDate || tokens[k].text[0] != 'm' || tokens[k].text.size() > 2) continue;
    bool minutes = false;
    for (std::size_t back = k; back-- > 0;) {
      if (tokens[back].kind == Kind::kDate || tokens[back].kind == Kind::kElapsed) {
        minutes = tokens[back].text[0] == 'h';
        break;
      }
    }
    for (std::size_t ahead = k + 1; !minutes && ahead < tokens.size(); ++ahead) {
      if (tokens[ahead].kind == Kind::kDate || tokens[ahead].kind == Kind::kElapsed) {
        minutes = tokens[ahead].text[0] == 's';
        break;
      }
    }
    if (minutes) tokens[k].text = tokens[k].text.size() == 1 ? "n" : "nn";
  }
}

// Number layout: digits before the point (or before the exponent, or the fraction's integer
// part), after it, commas that group or scale.
void MeasureNumber(Section& section) {
  const auto& tokens = section.tokens;
  bool afterPoint = false, afterExponent = false;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    switch (tokens[k].kind) {
      case Kind::kDigit:
        if (afterExponent) break;
        if (afterPoint) ++section.fractionDigits;
        else ++section.integerDigits;
        break;
      case Kind::kPoint: afterPoint = true; break;
      case Kind::kExponent: section.exponent = true, afterExponent = true; break;
      case Kind::kPercent: ++section.percents; break;
      case Kind::kSlash: section.fraction = true; break;
      case Kind::kGroup: {
        const bool digitBefore = k > 0 && tokens[k - 1].kind == Kind::kDigit;
        bool digitAfter = false;
        for (std::size_t j = k + 1; j < tokens.size() && !digitAfter; ++j) {
          if (tokens[j].kind == Kind::kDigit && !afterPoint) digitAfter = true;
          if (tokens[j].kind == Kind::kPoint || tokens[j].kind == Kind::kExponent) break;
        }
        if (digitAfter) section.grouping = true;
        else if (digitBefore || (k > 0 && tokens[k - 1].kind == Kind::kGroup)) section.scale += 1;
        break;
      }
      default: break;
    }
  }
}

// A section's code read into its tokens and layout.
void ParseSection(std::string_view code, Section& section) {
  // The system's long date and time stand for the en-US ones.
  if (code.find("[$-F800]") != std::string_view::npos || code.find("[$-f800]") != std::string_view::npos)
    code = "dddd, mmmm d, yyyy";
  else if (code.find("[$-F400]") != std::string_view::npos || code.find("[$-f400]") != std::string_view::npos)
    code = "hh:mm:ss AM/PM";
  // Blanks that open a section are not shown.
  while (!code.empty() && code.front() == ' ') code.remove_prefix(1);
  Tokenize(code, section);
  if (section.isDate) ReadAsDate(section.tokens);
  else MeasureNumber(section);
}

std::vector<std::string_view> SplitSections(std::string_view code) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  bool quoted = false, bracket = false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (quoted) {
      if (c == '"') quoted = false;
    } else if (bracket) {
      if (c == ']') bracket = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == '[') {
      bracket = true;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == ';') {
      parts.push_back(code.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(code.substr(start));
  return parts;
}

// n in decimal, zeros in front up to width characters (in front of a minus too).
void AppendPadded(std::string& out, long long n, std::size_t width) {
  char buffer[24];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, n);
  const auto length = static_cast<std::size_t>(written.ptr - buffer);
  if (length < width) out.append(width - length, '0');
  out.append(buffer, length);
}

void AppendDate(std::string& out, const Section& section, double value, bool date1904) {
  int subDigits = 0;
  for (const Token& t : section.tokens)
    if (t.kind == Kind::kSubsecond) subDigits = std::max(subDigits, static_cast<int>(t.text.size()));
  const double unitsPerSecond = subDigits == 0 ? 1.0 : std::pow(10.0, subDigits);
  // A whole day, as most dates are, needs no rounding.
  const bool wholeDay = subDigits == 0 && std::fabs(value) < 1e9 && value == std::floor(value);
  const long long units = wholeDay ? static_cast<long long>(value) * 86400
                                   : static_cast<long long>(static_cast<long double>(
                                         std::llround(static_cast<long double>(value) * 86400.0L * unitsPerSecond)));
  const long long perDay = 86400LL * static_cast<long long>(unitsPerSecond);
  long long day = units >= 0 ? units / perDay : -((-units + perDay - 1) / perDay);
  const long long inDay = units - day * perDay;
  const long long second = inDay / static_cast<long long>(unitsPerSecond);
  const long long sub = inDay % static_cast<long long>(unitsPerSecond);
  const long long hour = second / 3600, minute = second / 60 % 60, sec = second % 60;

  long long year;
  unsigned month, mday;
  const long long epoch = date1904 ? DaysFromCivil(1904, 1, 1) : DaysFromCivil(1899, 12, 30);
  CivilFromDays(epoch + day, year, month, mday);
  const long long weekday = ((epoch + day) % 7 + 7 + 4) % 7;  // 1970-01-01 was a Thursday

  // Elapsed units count the whole value, its sign shown once in front.
  const long long allUnits = std::llabs(units);
  const long long allSeconds = allUnits / static_cast<long long>(unitsPerSecond);

  bool elapsedSeen = false;
  for (const Token& t : section.tokens) {
    const std::string& x = t.text;
    switch (t.kind) {
      case Kind::kLiteral: out += x; break;
      case Kind::kElapsed: {
        long long n = x[0] == 'h' ? allSeconds / 3600 : x[0] == 'm' ? allSeconds / 60 : allSeconds;
        if (!elapsedSeen && units < 0) out += '-';
        elapsedSeen = true;
        AppendPadded(out, n, x.size());
        break;
      }
      case Kind::kSubsecond: {
        std::string digits;
        AppendPadded(digits, sub, static_cast<std::size_t>(subDigits));
        out += '.';
        out += digits.substr(0, x.size());
        break;
      }
      case Kind::kDate: {
        const long long seconds = elapsedSeen ? allSeconds : second;
        if (x[0] == 'a') out += x.size() == 4 ? (hour < 12 ? "AM" : "PM") : (hour < 12 ? "A" : "P");  // ampm, ap
        else if (x[0] == 'y') AppendPadded(out, x.size() <= 2 ? ((year % 100) + 100) % 100 : year, x.size() <= 2 ? 2 : 0);
        else if (x[0] == 'm') {
          if (x.size() <= 2) AppendPadded(out, month, x.size());
          else if (x.size() == 3) out.append(kMonths[month - 1], 3);
          else if (x.size() == 5) out += kMonths[month - 1][0];
          else out += kMonths[month - 1];
        } else if (x[0] == 'd') {
          if (x.size() <= 2) AppendPadded(out, mday, x.size());
          else if (x.size() == 3) out.append(kDays[static_cast<std::size_t>(weekday)], 3);
          else out += kDays[static_cast<std::size_t>(weekday)];
        } else if (x[0] == 'h') {
          long long h = hour;
          if (section.ampm) h = h % 12 == 0 ? 12 : h % 12;
          AppendPadded(out, h, std::min<std::size_t>(x.size(), 2));
        } else if (x[0] == 'n') {
          AppendPadded(out, elapsedSeen ? seconds / 60 % 60 : minute, x.size());
        } else if (x[0] == 's') {
          AppendPadded(out, elapsedSeen ? seconds % 60 : sec, std::min<std::size_t>(x.size(), 2));
        }
        break;
      }
      default: break;
    }
  }
}

// Places digits on placeholders: integer digits right-aligned on the integer placeholders
// (extra digits in front of the first), fraction digits left-aligned.
std::string FormatFixed(const Section& section, double magnitude) {
  magnitude *= std::pow(100.0, section.percents);
  magnitude /= std::pow(1000.0, section.scale);
  std::string integer, fraction;
  FixedDigits(magnitude, SignificantDigits(magnitude), section.fractionDigits, integer, fraction);
  if (integer == "0") integer.clear();
  // The placeholders ('0', '#' or '?') before the point and after it.
  std::string intSlots, fracSlots;
  bool afterPoint = false;
  for (const Token& t : section.tokens) {
    if (t.kind == Kind::kPoint) afterPoint = true;
    if (t.kind == Kind::kDigit) (afterPoint ? fracSlots : intSlots) += t.text[0];
  }
  // Integer digits right-aligned on their placeholders, the digits beyond them in front of
  // the first; an empty placeholder shows 0 for "0", a blank for "?", nothing for "#". Each
  // placeholder shows one character ('\0' for none), the first also the digits beyond.
  std::string shown(intSlots.size(), '\0');
  std::size_t d = integer.size();
  for (std::size_t s = intSlots.size(); s-- > 0;) {
    if (d > 0) shown[s] = integer[--d];
    else shown[s] = intSlots[s] == '0' ? '0' : intSlots[s] == '?' ? ' ' : '\0';
  }
  std::string first = integer.substr(0, intSlots.empty() ? 0 : d);
  if (!shown.empty() && shown[0] != '\0') first += shown[0];
  if (section.grouping && !shown.empty()) {
    std::string all = first;
    for (std::size_t s = 1; s < shown.size(); ++s)
      if (shown[s] != '\0') all += shown[s];
    const auto firstDigit = all.find_first_of("0123456789");
    if (firstDigit != std::string::npos) all = all.substr(0, firstDigit) + Grouped(all.substr(firstDigit));
    shown.assign(shown.size(), '\0');
    first = all;
  }
  // Fraction digits left-aligned; trailing zeros vanish on "#" and turn blank on "?".
  std::string fracShown = fraction.substr(0, fracSlots.size());
  for (std::size_t k = fracSlots.size(); k-- > 0;) {
    if (fraction[k] != '0' || fracSlots[k] == '0') break;
    fracShown[k] = fracSlots[k] == '?' ? ' ' : '\0';
  }
  std::string out;
  std::size_t s = 0, f = 0;
  afterPoint = false;
  for (const Token& t : section.tokens) {
    switch (t.kind) {
      case Kind::kLiteral: out += t.text; break;
      case Kind::kDigit:
        if (afterPoint) {
          if (fracShown[f] != '\0') out += fracShown[f];
          ++f;
        } else {
          if (s == 0) out += first;
          else if (shown[s] != '\0') out += shown[s];
          ++s;
        }
        break;
      case Kind::kPoint:
        if (s == 0 && !afterPoint) out += integer;  // ".00" still shows the whole part
        afterPoint = true;
        // A point whose fraction placeholders all vanished goes with them.
        if (fracSlots.empty() || fracShown.find_first_not_of('\0') != std::string::npos) out += '.';
        break;
      case Kind::kPercent: out += '%'; break;
      case Kind::kGeneral: out += FormatGeneral(magnitude); break;
      default: break;
    }
  }
  return out;
}

std::string FormatScientific(const Section& section, double magnitude) {
  std::vector<const Token*> intSlots;
  int zeroIntSlots = 0;
  bool afterPoint = false, afterExp = false;
  int exponentDigits = 0;
  std::string expSign = "+";
  for (const Token& t : section.tokens) {
    if (t.kind == Kind::kPoint) afterPoint = true;
    if (t.kind == Kind::kExponent) afterExp = true, expSign = t.text;
    if (t.kind == Kind::kDigit) {
      if (afterExp) ++exponentDigits;
      else if (!afterPoint) intSlots.push_back(&t), zeroIntSlots += t.text == "0";
    }
  }
  const int intCount = static_cast<int>(intSlots.size());
  int exponent = 0;
  if (magnitude != 0) {
    exponent = SignificantDigits(magnitude).exponent;
    if (intCount > 1 && zeroIntSlots < intCount) {
      // Engineering: the exponent is a multiple of the integer placeholders.
      exponent = static_cast<int>(std::floor(static_cast<double>(exponent) / intCount)) * intCount;
    } else {
      exponent -= std::max(1, zeroIntSlots) - 1;
    }
  }
  double mantissa = magnitude / std::pow(10.0, exponent);
  std::string integer, fraction;
  FixedDigits(mantissa, SignificantDigits(mantissa), section.fractionDigits, integer, fraction);
  if (magnitude != 0 && integer.size() > static_cast<std::size_t>(std::max(1, intCount)) && !(intCount > 1 && zeroIntSlots < intCount)) {
    exponent += 1;
    const double scaled = magnitude / std::pow(10.0, exponent);
    FixedDigits(scaled, SignificantDigits(scaled), section.fractionDigits, integer, fraction);
  }
  std::string out;
  afterPoint = afterExp = false;
  bool intDone = false;
  std::size_t f = 0;
  for (const Token& t : section.tokens) {
    switch (t.kind) {
      case Kind::kLiteral: out += t.text; break;
      case Kind::kDigit:
        if (afterExp) break;
        if (!afterPoint) {
          if (!intDone) {
            std::string shown = integer == "0" && zeroIntSlots == 0 ? "" : integer;
            if (static_cast<int>(shown.size()) < zeroIntSlots) shown.insert(0, static_cast<std::size_t>(zeroIntSlots) - shown.size(), '0');
            out += shown;
            intDone = true;
          }
        } else {
          out += fraction[f++];
        }
        break;
      case Kind::kPoint: afterPoint = true, out += '.'; break;
      case Kind::kExponent: {
        afterExp = true;
        out += 'E';
        out += exponent < 0 ? "-" : expSign == "+" ? "+" : "";
        std::string digits = std::to_string(std::abs(exponent));
        if (static_cast<int>(digits.size()) < exponentDigits) digits.insert(0, static_cast<std::size_t>(exponentDigits) - digits.size(), '0');
        out += digits;
        break;
      }
      case Kind::kPercent: out += '%'; break;
      default: break;
    }
  }
  return out;
}

std::string FormatFraction(const Section& section, double magnitude) {
  // Layout: [integer placeholders] literal numerator-placeholders / denominator (placeholders or digits).
  std::vector<std::size_t> digitsBefore, numerator, denominator;
  std::size_t slash = 0;
  for (std::size_t k = 0; k < section.tokens.size(); ++k)
    if (section.tokens[k].kind == Kind::kSlash) slash = k;
  // The numerator is the run of placeholders right before the slash; what comes earlier is
  // the integer part.
  std::size_t k = slash;
  while (k > 0 && section.tokens[k - 1].kind == Kind::kDigit) numerator.insert(numerator.begin(), --k);
  for (std::size_t j = 0; j < k; ++j)
    if (section.tokens[j].kind == Kind::kDigit) digitsBefore.push_back(j);
  std::string fixedDenominator;
  std::size_t afterDenominator = slash + 1;
  while (afterDenominator < section.tokens.size() && section.tokens[afterDenominator].kind == Kind::kDigit) {
    denominator.push_back(afterDenominator);
    ++afterDenominator;
  }
  if (denominator.empty() && afterDenominator < section.tokens.size() && section.tokens[afterDenominator].kind == Kind::kLiteral) {
    const std::string& lit = section.tokens[afterDenominator].text;
    std::size_t n = 0;
    while (n < lit.size() && std::isdigit(static_cast<unsigned char>(lit[n]))) ++n;
    fixedDenominator = lit.substr(0, n);
  }
  const bool hasInteger = !digitsBefore.empty();
  double whole = hasInteger ? std::floor(magnitude) : 0;
  double rest = magnitude - whole;
  long long num = 0, den = 1;
  if (!fixedDenominator.empty()) {
    den = std::atoll(fixedDenominator.c_str());
    num = std::llround(rest * static_cast<double>(den));
  } else {
    const long long maxDen = static_cast<long long>(std::pow(10.0, std::max<std::size_t>(1, denominator.size()))) - 1;
    double best = 2;
    for (long long d = 1; d <= maxDen; ++d) {
      const long long n = std::llround(rest * static_cast<double>(d));
      const double error = std::fabs(rest - static_cast<double>(n) / static_cast<double>(d));
      if (error < best - 1e-12) best = error, num = n, den = d;
    }
  }
  if (hasInteger && num == den) whole += 1, num = 0;
  auto padded = [&](long long n, const std::vector<std::size_t>& slots, bool left) {
    std::string text = std::to_string(n);
    std::size_t width = slots.size();
    std::string padding;
    for (std::size_t i = text.size(); i < width; ++i) {
      const std::string& p = section.tokens[slots[left ? i : width - 1 - i]].text;
      padding += p == "0" ? "0" : p == "?" ? " " : "";
    }
    return left ? text + padding : padding + text;
  };
  std::string out;
  const bool zeroFraction = num == 0;
  for (std::size_t j = 0; j < section.tokens.size(); ++j) {
    const Token& t = section.tokens[j];
    const bool inInteger = !digitsBefore.empty() && j >= digitsBefore.front() && j <= digitsBefore.back();
    if (t.kind == Kind::kLiteral) {
      if (zeroFraction && hasInteger && j > digitsBefore.back()) {
        out += std::string(t.text.size(), ' ');
        continue;
      }
      if (j == afterDenominator && !fixedDenominator.empty()) {
        if (zeroFraction && hasInteger) out += std::string(t.text.size(), ' ');
        else out += t.text;
        continue;
      }
      out += t.text;
    } else if (t.kind == Kind::kDigit && inInteger) {
      if (j == digitsBefore.front()) {
        if (whole != 0) out += std::to_string(static_cast<long long>(whole));
        else if (zeroFraction || section.tokens[j].text == "0") out += "0";
      }
    } else if (t.kind == Kind::kDigit && !numerator.empty() && j == numerator.front()) {
      if (zeroFraction && hasInteger) out += std::string(numerator.size(), ' ');
      else out += padded(num, numerator, false);
    } else if (t.kind == Kind::kSlash) {
      out += zeroFraction && hasInteger ? " " : "/";
    } else if (t.kind == Kind::kDigit && !denominator.empty() && j == denominator.front()) {
      if (zeroFraction && hasInteger) out += std::string(denominator.size(), ' ');
      else out += padded(den, denominator, true);
    }
  }
  return out;
}

}  // namespace

// The layout of a code of one section that is placeholders alone: "#" and group commas, one
// "0", then optionally a point and "0"s, then optionally "%". Off for any other.
NumberFormat::Plain NumberFormat::PlainLayout(const std::vector<Section>& sections) {
  Plain plain;
  if (sections.size() != 1) return plain;
  const Section& s = sections[0];
  if (s.op != Compare::kNone || s.isDate || s.isText || s.isGeneral || s.exponent || s.fraction || s.scale != 0)
    return plain;
  const std::vector<Token>& tokens = s.tokens;
  std::size_t k = 0;
  auto digit = [&](char c) { return k < tokens.size() && tokens[k].kind == Kind::kDigit && tokens[k].text[0] == c; };
  while (digit('#') || (k > 0 && k < tokens.size() && tokens[k].kind == Kind::kGroup)) ++k;
  if (!digit('0')) return plain;
  ++k;
  if (k < tokens.size() && tokens[k].kind == Kind::kPoint) {
    ++k;
    while (digit('0')) ++k, ++plain.decimals;
    if (plain.decimals == 0) return plain;
  }
  if (k < tokens.size() && tokens[k].kind == Kind::kPercent) ++k, plain.percent = true;
  if (k != tokens.size()) return plain;
  plain.grouping = s.grouping;
  plain.on = true;
  return plain;
}

NumberFormat::NumberFormat(std::string_view code) {
  if (code.empty()) return;
  for (const std::string_view part : SplitSections(code)) {
    Section section;
    ParseSection(part, section);
    sections_.push_back(std::move(section));
  }
  general_ = true;
  for (const Section& s : sections_) {
    const bool onlyGeneral = s.tokens.size() == 1 && s.isGeneral && s.op == Compare::kNone;
    general_ = general_ && onlyGeneral;
  }
  if (sections_.size() > 1) general_ = false;
  plain_ = PlainLayout(sections_);
}

NumberFormat::~NumberFormat() = default;
NumberFormat::NumberFormat(NumberFormat&&) noexcept = default;
NumberFormat& NumberFormat::operator=(NumberFormat&&) noexcept = default;

std::string NumberFormat::Format(double value, bool date1904) const {
  std::string text;
  WrittenNumber number;
  number.value = value;
  Append(text, number, date1904);
  return text;
}

void NumberFormat::Append(std::string& out, const WrittenNumber& number, bool date1904) const {
  if (general_ || sections_.empty()) return AppendGeneral(out, number);
  const double value = number.value;
  if (!std::isfinite(value)) {
    out += "#NUM!";
    return;
  }
  if (plain_.on) return AppendPlain(out, number);
  // Which section shows the value, and whether it shows the minus sign itself.
  std::size_t numeric = sections_.size();
  if (numeric == 4 || (numeric > 1 && sections_.back().isText && !sections_.back().isDate &&
                       sections_.back().integerDigits == 0 && !sections_.back().isGeneral))
    --numeric;
  const Section* chosen = &sections_[0];
  bool ownSign = false;
  const bool conditional = sections_[0].op != Compare::kNone || (numeric > 1 && sections_[1].op != Compare::kNone);
  if (conditional) {
    if (Holds(sections_[0].op, value, sections_[0].operand)) {
      chosen = &sections_[0];
    } else if (numeric > 1 && sections_[1].op != Compare::kNone) {
      chosen = Holds(sections_[1].op, value, sections_[1].operand) ? &sections_[1]
               : numeric > 2 ? &sections_[2] : &sections_[1];
    } else if (numeric > 1) {
      chosen = &sections_[1];
    }
    // A section whose condition is for negatives, or the second of a pair under "[>=0]",
    // writes its own sign.
    ownSign = (chosen->op == Compare::kLess || chosen->op == Compare::kLessEqual) && chosen->operand <= 0;
    if (chosen != &sections_[0] && sections_[0].op == Compare::kGreaterEqual && sections_[0].operand == 0) ownSign = true;
  } else if (value < 0 && numeric >= 2) {
    chosen = &sections_[1];
    ownSign = true;
  } else if (value == 0 && numeric >= 3) {
    chosen = &sections_[2];
  }
  const Section& s = *chosen;
  if (s.isDate) return AppendDate(out, s, value, date1904);
  const double magnitude = std::fabs(value);
  std::string text;
  bool anyPlaceholder = s.integerDigits + s.fractionDigits > 0;
  if (s.isGeneral && !anyPlaceholder) {
    text.clear();
    for (const Token& t : s.tokens)
      text += t.kind == Kind::kLiteral ? t.text : t.kind == Kind::kGeneral ? FormatGeneral(magnitude) : "";
  } else if (s.fraction) {
    text = FormatFraction(s, magnitude);
  } else if (s.exponent) {
    text = FormatScientific(s, magnitude);
  } else if (s.isText && !anyPlaceholder) {
    // A text-only section given a number shows the number.
    text = FormatGeneral(magnitude);
  } else {
    text = FormatFixed(s, magnitude);
  }
  // No minus on a value that shows as zero.
  if (value < 0 && !ownSign && text.find_first_of("123456789") != std::string::npos) out += '-';
  out += text;
}

// The plainest codes, placeholders alone: the digits rounded to the places the code shows,
// grouped by thousands for "#,##0", then the point and the places, then the percent sign.
// What FormatFixed makes of the same code.
void NumberFormat::AppendPlain(std::string& out, const WrittenNumber& number) const {
  const double value = number.value;
  const double magnitude = plain_.percent ? std::fabs(value) * 100.0 : std::fabs(value);
  const Significant significant = plain_.percent ? SignificantDigits(magnitude) : DigitsOf(number);
  const int decimals = plain_.decimals;
  char buffer[64];
  std::string held;
  char* digits = buffer;
  if (RoundedLength(significant.exponent, decimals) > sizeof buffer) {
    held.resize(RoundedLength(significant.exponent, decimals));
    digits = held.data();
  }
  const std::size_t count = RoundedDigits(magnitude == 0, significant, decimals, digits);
  const std::size_t point = count - static_cast<std::size_t>(decimals);
  std::size_t first = 0;
  while (first < count && digits[first] == '0') ++first;
  // No minus on a value that shows as zero.
  if (value < 0 && first < count) out += '-';
  if (first >= point) {
    out += '0';
  } else if (plain_.grouping) {
    for (std::size_t i = first; i < point; ++i) {
      out += digits[i];
      if (i + 1 < point && (point - i - 1) % 3 == 0) out += ',';
    }
  } else {
    out.append(digits + first, point - first);
  }
  if (decimals > 0) {
    out += '.';
    out.append(digits + point, static_cast<std::size_t>(decimals));
  }
  if (plain_.percent) out += '%';
}

std::string NumberFormat::FormatText(std::string_view text) const {
  const Section* section = nullptr;
  if (sections_.size() >= 4) section = &sections_[3];
  else if (!sections_.empty() && sections_.back().isText) section = &sections_.back();
  if (section == nullptr) return std::string(text);
  std::string out;
  for (const Token& t : section->tokens) {
    if (t.kind == Kind::kLiteral) out += t.text;
    else if (t.kind == Kind::kText) out += text;
  }
  return out;
}

std::string FormatNumber(std::string_view code, double value, bool date1904) {
  return NumberFormat(code).Format(value, date1904);
}

}  // namespace tabrend::spreadsheet
