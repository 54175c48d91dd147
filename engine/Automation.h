// The spreadsheet application's automation objects: App, its workbooks (Src, New) and their
// sheets (Sh). This build has no spreadsheet application to drive; the objects are backed by
// the native workbook engine in spreadsheet/, with the same operations and effects.
//
// Ownership: the Application owns every Workbook it opened or added, and a Workbook owns its
// Sheets. References stay valid until Quit (or the Application is destroyed); a closed
// workbook or a deleted sheet stays a valid object whose every operation throws.
//
// Every failure throws AutomationError, carrying the application's error number and a
// description that names the file and the sheet concerned.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/Error.h"

namespace tabrend::automation {

// The error type and numbers are every layer's (core/Error.h).
using tabrend::AutomationError;
using tabrend::ErrorNumber;
using tabrend::kApplicationDefined;
using tabrend::kCannotCreateObject;
using tabrend::kSubscriptOutOfRange;

class Workbook;
class Application;

// File formats SaveAs writes, numbered as the application numbers them.
enum XlFileFormat : int {
  xlOpenXMLWorkbook = 51,  // .xlsx, the default
  xlCSVUTF8 = 62,          // the first worksheet as CSV text, UTF-8
};

// How a workbook's saves make its file: chosen with SaveAs, kept by the Saves after it.
enum class SaveMode {
  // As the application saves: SaveAs writes the file at once, and every save builds the file
  // beside its name and renames it over the name in one step, so the name holds the earlier
  // file or the complete new one, whatever happens.
  kReplace,
  // For a file in a staging folder of the caller's own, which no one else reads and whose
  // complete file the caller puts in place itself (engine/SheetOutput.h): SaveAs checks and
  // names the file without writing it, and each Save writes straight into it. A failed Save
  // leaves no file there.
  kStaged,
};

// Values of Sheet.Visible, as the application numbers them.
inline constexpr long kSheetVisible = -1;
inline constexpr long kSheetHidden = 0;
inline constexpr long kSheetVeryHidden = 2;

// One sheet of a workbook, of any kind (worksheet or chart sheet).
class Sheet {
 public:
  virtual ~Sheet() = default;
  // The tab name.
  virtual std::string name() const = 0;
  // Renames the sheet; enforces the application's rules (1 to 31 characters, none of
  // : \ / ? * [ ], no leading or trailing apostrophe, not "History", unique regardless of
  // case) and rewrites every reference to the old name in the workbook.
  virtual void name(const std::string& newName) = 0;
  // Copies this sheet, with everything on it, into Before's workbook, placed before Before.
  // A name that clashes there gets the form "Name (2)".
  virtual void Copy(Sheet& Before) = 0;
  // Removes the sheet; fails for the last visible sheet of a workbook.
  virtual void Delete() = 0;
  virtual bool IsWorksheet() const = 0;
  virtual Workbook& Parent() = 0;
  // kSheetVisible, kSheetHidden or kSheetVeryHidden. A copy is always visible.
  virtual long Visible() const = 0;
  // False when the sheet shows nothing: no cell value or formula, picture, chart, shape,
  // comment, table or embedded object (styles and page setup alone do not count). Decided
  // from the source package without copying anything. Throws AutomationError for a sheet
  // whose part cannot be read, as copying it would.
  virtual bool HasContent() const = 0;
};

// Worksheets (worksheets only) or Sheets (every kind) of a workbook.
class SheetCollection {
 public:
  virtual ~SheetCollection() = default;
  virtual long Count() const = 0;
  // Item by position, from 1; throws kSubscriptOutOfRange outside 1..Count.
  virtual Sheet& operator()(long index) = 0;
};

class Workbook {
 public:
  virtual ~Workbook() = default;
  virtual SheetCollection& Worksheets() = 0;
  virtual SheetCollection& Sheets() = 0;
  // Writes the workbook in format (by default .xlsx, never carrying macros) to path and
  // makes path the workbook's file. xlCSVUTF8 writes only the first worksheet, as CSV text
  // (spreadsheet/CsvWriter.h). The file is made as `mode` says (by default in one step: a
  // failure leaves what was there).
  // Refuses a file name holding "/", "\" or a control character, a missing folder, and a
  // path that names a folder. A workbook opened from a file can never be written over it.
  virtual void SaveAs(const std::string& path, XlFileFormat format = xlOpenXMLWorkbook,
                      SaveMode mode = SaveMode::kReplace) = 0;
  // Writes the workbook again to the file of its last SaveAs, in the format and mode of that SaveAs.
  virtual void Save() = 0;
  // Closes without a prompt. The workbook's objects throw from then on.
  virtual void Close() = 0;
  // The file name (no folder), or "Book1" and so on for a workbook never saved.
  virtual std::string Name() const = 0;
  // The file's full path as it was opened or last saved; Name() for a workbook never saved.
  virtual std::string FullName() const = 0;
  // What the last save could not keep of the copied sheets (dropped formulas, links,
  // parts), one line each, for a person to read. Empty when nothing was lost.
  virtual std::vector<std::string> LossReport() const = 0;
};

class WorkbookCollection {
 public:
  virtual ~WorkbookCollection() = default;
  // Opens a workbook file read-only; the file is never written, locked or modified.
  virtual Workbook& Open(const std::string& path) = 0;
  // A new workbook with the default sheet "Sheet1".
  virtual Workbook& Add() = 0;
  // Open (not closed) workbooks.
  virtual long Count() const = 0;
};

class Application {
 public:
  virtual ~Application() = default;
  // "16.0".
  virtual std::string Version() const = 0;
  virtual WorkbookCollection& Workbooks() = 0;
  virtual void DisplayAlerts(bool show) = 0;
  // Closes every open workbook without saving; the application's objects throw from then on.
  virtual void Quit() = 0;
};

// Creates a new application instance of the named class ("Excel.Application").
// Throws kCannotCreateObject for any other class name.
std::unique_ptr<Application> CreateObject(const std::string& className);

// Attaches to a running instance of the named class. This build has no running instances:
// it always throws kCannotCreateObject, so callers fall back as they would on Windows.
std::unique_ptr<Application> GetObject(const std::string& className);

// True for an application of this build's own engine, as CreateObject makes them. A split
// may build outputs in instances of its own for such an application only: for another one
// (a wrapper, a different implementation) they would not be what its calls make.
bool IsNativeApplication(const Application& app);

// While it lives, workbooks opened on this thread get no calculator: a copy that would drop a
// formula saved without a result fails (AutomationError) instead of starting LibreOffice. A
// parallel split's workers open so, and leave such sheets to the split, whose own opening of
// the workbook, in order, calculates it as a split on one thread would (once, together with
// the batch's other workbooks that need it).
class WithoutCalculation {
 public:
  WithoutCalculation();
  ~WithoutCalculation();
  WithoutCalculation(const WithoutCalculation&) = delete;
  WithoutCalculation& operator=(const WithoutCalculation&) = delete;

 private:
  bool before_;
};

}  // namespace tabrend::automation
