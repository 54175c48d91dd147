// The one error type of the workbook engine and the automation layer above it.
//
// Every failure carries the application's error number and a description a person can act
// on, naming the file and, where it applies, the part or the sheet:
//   "'Q1.xlsx' is not a workbook: no ZIP central directory"
#pragma once

#include <stdexcept>
#include <string>

namespace tabrend {

// Error numbers, as the spreadsheet application, the language runtime and the list controls
// report them.
enum ErrorNumber : long {
  kInvalidProcedureCall = 5,   // a dialog asked to show what it cannot
  kSubscriptOutOfRange = 9,    // a sheet or workbook index that does not exist
  kObjectVariableNotSet = 91,  // a dialog without the window it belongs to
  kCannotCreateObject = 429,   // unknown class name, or no running instance to attach to
  kApplicationDefined = 1004,  // everything the application itself refuses or fails at
  kIndexOutOfBounds = 35600,   // a list entry number outside 1..Count
};

class AutomationError : public std::runtime_error {
 public:
  AutomationError(long number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  long Number() const { return number_; }
  std::string Description() const { return what(); }

 private:
  long number_;
};

// The one way every layer raises an error.
[[noreturn]] inline void Fail(ErrorNumber number, const std::string& description) {
  throw AutomationError(number, description);
}

// Shorthand for the application's own refusals and failures.
[[noreturn]] inline void Fail(const std::string& description) { Fail(kApplicationDefined, description); }

// "'Q1.xlsx'" — how every description names a file: its name without the folder.
std::string Quoted(const std::string& pathOrName);

}  // namespace tabrend
