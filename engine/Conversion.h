// Workbooks the native engine cannot read (.xls, .xlsb, .ods) are opened through a copy that
// LibreOffice headless converts into a .xlsx package in a private temporary folder. The same
// runner calculates workbooks whose formulas were saved without results (CalculatorFor).
//
// LibreOffice runs with a user profile of its own, so a LibreOffice the user has open is
// neither disturbed nor in the way; without a shell, in its own process group, with nothing
// on its standard input and under a time limit. The source is never written: LibreOffice
// reads it through a link in the private folder.
//
// Temporary folders live under one folder per process in TMPDIR. They go when their owner
// goes, when the process exits, and when SIGINT, SIGTERM or SIGHUP ends it (the signal is
// then raised again with its default action, or passed to a handler installed before).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "spreadsheet/CellReader.h"
#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::automation {

// The converted package of one source, owned by the workbook that opened it. Destroying it
// removes the package and its folder.
class ConvertedPackage {
 public:
  ConvertedPackage(std::string folder, std::string path);
  ~ConvertedPackage();
  ConvertedPackage(const ConvertedPackage&) = delete;
  ConvertedPackage& operator=(const ConvertedPackage&) = delete;

  // The package, named as its source ("Q1.xls") so that descriptions name the user's file.
  const std::string& Path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

// True when path holds, by content, a workbook that must be converted before opening.
bool NeedsConversion(const std::string& path);

// The converted package of path: the one PrefetchConversions kept when the file has not
// changed since (same size and modification time), else a new conversion. The caller owns
// it from then on. Throws AutomationError naming the file: LibreOffice missing, stopped at
// the time limit or failing, or converting nothing (a password or a damaged file).
std::unique_ptr<ConvertedPackage> ConvertForOpening(const std::string& path);

// Converts the workbooks among paths that need it, with one LibreOffice start for each
// import format present (at most 100 workbooks a start), and keeps each result, package or
// failure, for the next ConvertForOpening of the same path. The other paths become the run's
// calculation candidates (see CalculatorFor), whose outputs show the formulas `shown` through
// their results; they are not read here. A failure is not thrown here: it is described when
// the path is opened, and one that may be another workbook's doing (the start was stopped or
// crashed) is not kept, so that Open converts that workbook alone.
void PrefetchConversions(const std::vector<std::string>& paths,
                         spreadsheet::ShownResults shown = spreadsheet::ShownResults::kDroppedFormulas);

// Removes every kept result that no ConvertForOpening or calculator took, and the run's
// calculation candidates.
void DiscardPrefetchedConversions();

// The calculator for formulas of the workbook package at path that were saved without a
// result, or with a placeholder, to attach to the opened workbook. Nothing runs until an
// output would show such a formula through its result: then LibreOffice converts the workbook
// once into a calculated copy (in the same private, time-limited way as a conversion, every
// formula calculated on loading) and the copy's results of exactly the cells asked for are
// taken. The run's candidates whose outputs would show such a formula too are calculated in
// the same start and kept for their own calculators. Without LibreOffice, or when it fails,
// the results say why there are none; nothing is thrown. Opening path takes it off the run's
// candidates.
std::shared_ptr<spreadsheet::ResultCalculator> CalculatorFor(const std::string& path);

}  // namespace tabrend::automation
