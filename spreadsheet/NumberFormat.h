// Number format codes (the styles part's numFmt formatCode and the built-in ids): a cell's
// value turned into the text the sheet shows, as LibreOffice shows it in the en-US locale.
//
// A code has up to four sections separated by ";": positive; negative; zero; text. Sections
// may carry a condition ("[>100]"), a colour ("[Red]", ignored), a currency or locale tag
// ("[$€-407]": its symbol is shown), literal text ("..." or \x), spacing ("_x" shows one
// blank; "*x" fills nothing, as there is no column width to fill), digit placeholders
// (0 # ?), grouping and scaling commas, percent, scientific notation, fractions, dates,
// times and elapsed times ([h]:mm:ss), "@" for the text itself, and "General".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tabrend::spreadsheet {

// The code of built-in number format id 0..49 as LibreOffice reads it from an .xlsx in
// en-US; "General" for 0 and for the ids whose meaning belongs to another locale.
std::string_view BuiltInNumberFormat(unsigned id);

// A number as a cell's text writes it. A plain decimal ("-12.50", "40123") of at most 15
// significant digits is read with those digits: a double keeps 15 digits exactly, so they are
// the digits every format shows of it, and showing it needs no conversion back to digits.
struct WrittenNumber {
  double value = 0;
  bool digitsKnown = false;
  char digits[15] = {};  // the first 15 significant digits of |value|, zeros after the last
  int exponent = 0;      // the power of ten of the first
};

// Reads text as from_chars reads a double; false when it is not one in that form.
bool ReadWrittenNumber(std::string_view text, WrittenNumber& number);

// A number in the General format: up to 15 significant digits, trailing zeros dropped;
// whole numbers below 2^53 in full; scientific notation ("1.5E-15", "1E+016") for the
// very small and the very large.
std::string FormatGeneral(double value);
void AppendGeneral(std::string& out, const WrittenNumber& number);

// One parsed format code. Parsing never fails: what the code does not say is shown as
// General, and unknown bracket tags are passed over.
class NumberFormat {
 public:
  explicit NumberFormat(std::string_view code);
  ~NumberFormat();
  NumberFormat(NumberFormat&&) noexcept;
  NumberFormat& operator=(NumberFormat&&) noexcept;

  // The text of a number. `date1904`: serial 0 is 1904-01-01 instead of 1899-12-30.
  std::string Format(double value, bool date1904 = false) const;
  // The text of a number, appended to out.
  void Append(std::string& out, const WrittenNumber& number, bool date1904 = false) const;
  // The text of a text value: the code's text section, or the text as it is.
  std::string FormatText(std::string_view text) const;
  // True when every section is General (the fast path for most cells).
  bool IsGeneral() const { return general_; }

  struct Section;

 private:
  // Codes of placeholders alone ("0", "0.00", "#,##0.00", "0%"), which most cells use, are
  // shown by a path of their own: the same text as the general one, several times faster.
  struct Plain {
    bool on = false, grouping = false, percent = false;
    int decimals = 0;
  };
  static Plain PlainLayout(const std::vector<Section>& sections);
  void AppendPlain(std::string& out, const WrittenNumber& number) const;

  std::vector<Section> sections_;
  bool general_ = true;
  Plain plain_;
};

// FormatNumber(code, value) == NumberFormat(code).Format(value).
std::string FormatNumber(std::string_view code, double value, bool date1904 = false);

}  // namespace tabrend::spreadsheet
