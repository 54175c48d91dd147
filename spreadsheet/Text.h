// Text rules the application applies to names: comparisons that ignore case across
// Unicode, and lengths counted in characters rather than bytes.
#pragma once

#include <string>
#include <string_view>

namespace tabrend::spreadsheet {

// Lower-cases ASCII letters only, as package part names and file extensions compare.
std::string LowerAscii(std::string_view text);
// ASCII classes, the same in every locale (the <cctype> ones follow the locale and cost a
// call): formula words and cell references are ASCII.
constexpr bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlnum(char c) { return IsAsciiLetter(c) || IsAsciiDigit(c); }
constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
// Appends one Unicode code point as UTF-8.
void AppendUtf8(std::string& out, char32_t code);
// Lower-cases every character (not only ASCII) of UTF-8 text, for comparisons that ignore case.
std::string FoldCase(std::string_view utf8);
bool EqualIgnoringCase(std::string_view a, std::string_view b);
// Number of characters (UTF-16 code units, as the application counts) of UTF-8 text.
std::size_t CharacterCount(std::string_view utf8);
// True for a character that changes how the text around it is shown instead of showing
// itself: the C0 and C1 controls, DEL, and the bidirectional embeddings, overrides and isolates
// (U+202A to U+202E, U+2066 to U+2069), which make a name read as another: after U+202E,
// "report\u202Excl.exe" shows as "reportexe.lcx".
constexpr bool IsControlCharacter(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}
// The first control character of UTF-8 text, written "U+202E"; "" when there is none.
// Malformed bytes are not characters, so not controls either.
std::string FirstControlCharacter(std::string_view utf8);
// The text with each control character written as "\x1B" (below U+0080) or "\u202E", and
// each malformed byte as "\xNN": safe to print on a terminal, where it reads as it is.
std::string PrintableText(std::string_view utf8);
// The longest prefix of UTF-8 text with at most count characters.
std::string TruncateCharacters(std::string_view utf8, std::size_t count);

}  // namespace tabrend::spreadsheet
