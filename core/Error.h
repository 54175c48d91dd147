// The one error type of the workbook engine, the automation layer above it, the dialogs and
// the programs.
//
// Every failure carries the application's error number, a reason a caller can test, and a
// description a person can act on, naming the file and, where it applies, the part or the
// sheet:
//   "'Q1.xlsx' is not a workbook: no ZIP central directory"      (kNotAWorkbook)
// Callers decide by the number and the reason; the description is for people and may change.
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

// What went wrong, in the terms a caller acts on.
enum class ErrorReason {
  kOther,             // an operation refused for how it was called (a closed workbook, a bad name)
  kMissing,           // the file is not there
  kUnreadable,        // the file is there but cannot be read (permissions, the disk)
  kNotAWorkbook,      // the file is something else: not a package, a folder, empty, another kind
  kUnsupported,       // a workbook of a kind the engine does not open itself (.xls, .xlsb, a beta format)
  kEncrypted,         // the workbook needs a password
  kDamaged,           // a workbook whose package or parts are broken
  kRefused,           // input beyond a limit or hostile: a ZIP bomb, a document type, deep nesting
  kNotWritten,        // an output, or a temporary file for one, cannot be written or put in place
  kNeedsLibreOffice,  // LibreOffice would do the work and is not installed
  kLibreOfficeFailed, // LibreOffice ran and did not deliver
};

class AutomationError : public std::runtime_error {
 public:
  AutomationError(long number, const std::string& description, ErrorReason reason = ErrorReason::kOther)
      : std::runtime_error(description), number_(number), reason_(reason) {}
  long Number() const { return number_; }
  ErrorReason Reason() const { return reason_; }
  std::string Description() const { return what(); }

 private:
  long number_;
  ErrorReason reason_;
};

// The one way every layer raises an error.
[[noreturn]] inline void Fail(ErrorNumber number, const std::string& description) {
  throw AutomationError(number, description);
}

// The application's own refusals and failures (kApplicationDefined), by reason.
[[noreturn]] inline void Fail(ErrorReason reason, const std::string& description) {
  throw AutomationError(kApplicationDefined, description, reason);
}

// Shorthand for a refusal of how an operation was called.
[[noreturn]] inline void Fail(const std::string& description) { Fail(ErrorReason::kOther, description); }

// "'Q1.xlsx'" — how every description names a file: its name without the folder.
std::string Quoted(const std::string& pathOrName);

}  // namespace tabrend
