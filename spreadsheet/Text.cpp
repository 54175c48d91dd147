// Case folding and character counts for UTF-8 names.
#include "spreadsheet/Text.h"

#include <locale.h>
#include <wctype.h>

#include <cstdio>

namespace tabrend::spreadsheet {

namespace {

// Decodes one UTF-8 sequence at text[i]; malformed bytes stand for themselves.
char32_t Decode(std::string_view text, std::size_t& i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  int extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
  if (extra > 0 && i + static_cast<std::size_t>(extra) >= text.size()) extra = 0;
  char32_t code = extra == 0 ? byte : byte & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((next & 0xC0) != 0x80) {
      extra = 0;
      code = byte;
      break;
    }
    code = (code << 6) | (next & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  return code;
}

void EncodeUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

locale_t UnicodeLocale() {
  static const locale_t locale = [] {
    locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return made != static_cast<locale_t>(nullptr) ? made : duplocale(LC_GLOBAL_LOCALE);
  }();
  return locale;
}

}  // namespace

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return lower;
}

void AppendUtf8(std::string& out, char32_t code) { EncodeUtf8(out, code); }

std::string FoldCase(std::string_view utf8) {
  std::string folded;
  folded.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t code = Decode(utf8, i);
    if (code < 0x80) {
      folded += static_cast<char>(code >= 'A' && code <= 'Z' ? code + 32 : code);
    } else {
      EncodeUtf8(folded, static_cast<char32_t>(towlower_l(static_cast<wint_t>(code), UnicodeLocale())));
    }
  }
  return folded;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size();) count += Decode(utf8, i) >= 0x10000 ? 2 : 1;
  return count;
}

namespace {

// Calls visit(code, bytes) for each character of utf8; code is -1 for a malformed byte.
template <typename Visit>
void ForEachCharacter(std::string_view utf8, Visit visit) {
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    const char32_t code = Decode(utf8, i);
    const bool malformed = i - start == 1 && code >= 0x80;
    if (!visit(malformed ? static_cast<char32_t>(-1) : code, utf8.substr(start, i - start))) return;
  }
}

std::string CodeText(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string FirstControlCharacter(std::string_view utf8) {
  std::string found;
  ForEachCharacter(utf8, [&](char32_t code, std::string_view) {
    if (code == static_cast<char32_t>(-1) || !IsControlCharacter(code)) return true;
    found = CodeText("U+%04X", static_cast<unsigned>(code));
    return false;
  });
  return found;
}

std::string PrintableText(std::string_view utf8) {
  std::string printable;
  printable.reserve(utf8.size());
  ForEachCharacter(utf8, [&](char32_t code, std::string_view bytes) {
    if (code == static_cast<char32_t>(-1))
      printable += CodeText("\\x%02X", static_cast<unsigned char>(bytes[0]));
    else if (IsControlCharacter(code))
      printable += CodeText(code < 0x80 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(code));
    else
      printable += bytes;
    return true;
  });
  return printable;
}

std::string TruncateCharacters(std::string_view utf8, std::size_t count) {
  std::size_t used = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    std::size_t next = i;
    const std::size_t width = Decode(utf8, next) >= 0x10000 ? 2 : 1;
    if (used + width > count) break;
    used += width;
    i = next;
  }
  return std::string(utf8.substr(0, i));
}

}  // namespace tabrend::spreadsheet
