// What the fuzz targets and the hostile-input tests share: a sandbox of folders per input,
// the split of every worksheet through the automation interface as both programs do it, and
// the checks that the split wrote only where it was told to and only what a reader accepts.
// Checks return what is wrong ("" when nothing is); a fuzz target makes that a Finding.
#pragma once

#include <expat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Automation.h"
#include "engine/Naming.h"
#include "engine/SheetOutput.h"
#include "spreadsheet/Package.h"
#include "spreadsheet/Zip.h"

namespace tabrend::fuzz {

namespace fs = std::filesystem;

// A finding: libFuzzer records the input and stops.
[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

// Once per fuzzing process. Workbooks of other formats (.xls, .ods) are converted by
// LibreOffice before the engine reads them; a fuzzer wants the engine, many times a second,
// not a LibreOffice run per input: with no soffice on PATH the conversion fails at once,
// cleanly. Sandboxes go to memory where it can hold them: folders made and removed on
// every input cost more on a disk than the engine's whole work.
inline void PrepareFuzzing() {
  ::setenv("PATH", "/nonexistent", 1);
  std::error_code error;
  if (fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
}

// root/in/<file>: the input; root/a/b/out: the only folder the split may write into. The
// folders between let a path that climbs out of out with ".." be seen.
class Sandbox {
 public:
  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "tabrend-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) Finding("mkdtemp failed");
    root_ = pattern;
    fs::create_directories(root_ / "in");
    fs::create_directories(root_ / "a" / "b" / "out");
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  std::string Input(const std::string& name) const { return (root_ / "in" / name).string(); }
  std::string Out() const { return (root_ / "a" / "b" / "out").string(); }

  // Everything in the sandbox outside out is what the sandbox made itself; out holds
  // exactly the files that a finished write left (and nothing a failed one began).
  std::string ConfinementProblem(const std::string& inputName, const std::set<std::string>& outputs) const {
    const std::set<fs::path> expected = {root_ / "in", root_ / "in" / inputName, root_ / "a", root_ / "a" / "b",
                                         root_ / "a" / "b" / "out"};
    const fs::path out = root_ / "a" / "b" / "out";
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      const fs::path& path = entry.path();
      if (expected.count(path)) continue;
      if (path.parent_path() == out && entry.is_regular_file() && outputs.count(path.filename().string())) continue;
      return "the split left " + path.string() + " (outside its output folder, or not a finished output)";
    }
    for (const std::string& name : outputs)
      if (!fs::is_regular_file(out / name)) return "the finished output " + name + " is missing";
    return {};
  }

 private:
  fs::path root_;
};

inline void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Draws that repeat for the same input, so a finding reproduces.
class CountingRandom : public RandomSource {
 public:
  double Uniform() override { return static_cast<double>((next_++ * 7919u) % 1000u) / 1000.0; }

 private:
  unsigned next_ = 1;
};

// Lists every sheet of an opened workbook the way the programs list them.
inline std::string ListingProblem(automation::Workbook& book) {
  for (automation::SheetCollection* collection : {&book.Worksheets(), &book.Sheets()}) {
    const long count = collection->Count();
    for (long i = 1; i <= count; ++i) {
      automation::Sheet& sheet = (*collection)(i);
      (void)sheet.name();  // anything the file says, even empty: splitting it then fails cleanly
      (void)sheet.IsWorksheet();
      if (&sheet.Parent() != &book) return "a sheet's parent is another workbook";
    }
    try {
      (*collection)(count + 1);
      return "an item past the end was returned";
    } catch (const automation::AutomationError& error) {
      if (error.Number() != automation::kSubscriptOutOfRange) return "wrong number for a missing item";
    }
  }
  if (book.Worksheets().Count() > book.Sheets().Count()) return "more worksheets than sheets";
  return {};
}

// Whether the parts the writer makes itself are well-formed XML. Parts carried as they were
// (styles, drawings...) are the source's own bytes and are not judged here.
inline bool WrittenPart(const std::string& name) {
  return name == "[Content_Types].xml" || name == "xl/workbook.xml" || name == "xl/sharedStrings.xml" ||
         name == "docProps/app.xml" || (name.size() > 5 && name.compare(name.size() - 5, 5, ".rels") == 0) ||
         name.rfind("xl/worksheets/sheet", 0) == 0;
}

// A finished output: its own parts are well-formed XML, it is a consistent package, and the
// engine opens it again.
inline std::string OutputProblem(const std::string& path) {
  try {
    spreadsheet::ZipReader zip(path);
    for (std::uint64_t i = 0; i < zip.EntryCount(); ++i) {
      if (!WrittenPart(zip.EntryName(i))) continue;
      XML_Parser parser = XML_ParserCreate(nullptr);
      bool good = true;
      zip.Stream(i, [&](const char* data, std::size_t length) {
        if (good && XML_Parse(parser, data, static_cast<int>(length), XML_FALSE) == XML_STATUS_ERROR) good = false;
      });
      if (good && XML_Parse(parser, "", 0, XML_TRUE) == XML_STATUS_ERROR) good = false;
      const std::string reason = good ? "" : XML_ErrorString(XML_GetErrorCode(parser));
      const auto line = XML_GetCurrentLineNumber(parser);
      const auto column = XML_GetCurrentColumnNumber(parser);
      XML_ParserFree(parser);
      if (!good)
        return "output " + path + ": part " + zip.EntryName(i) + " is not well-formed (" + reason + " at " +
               std::to_string(line) + ":" + std::to_string(column) + ")";
    }
    // Consistent as a package: every part has a content type, every relationship a target.
    const spreadsheet::Package package(path);
    for (std::uint64_t i = 0; i < zip.EntryCount(); ++i) {
      const std::string& name = zip.EntryName(i);
      if (package.ContentType(name).empty()) return "output " + path + ": part " + name + " has no content type";
      const auto rels = name.rfind("_rels/");
      if (rels == std::string::npos || name.size() < 5 || name.compare(name.size() - 5, 5, ".rels") != 0) continue;
      const std::string owner = name.substr(0, rels) + name.substr(rels + 6, name.size() - rels - 11);
      for (const spreadsheet::Relationship& relationship : package.RelationshipsOf(owner))
        if (!relationship.external && !package.Has(relationship.targetPart))
          return "output " + path + ": " + name + " refers to the missing part " + relationship.targetPart;
    }
    auto app = automation::CreateObject("Excel.Application");
    const std::string problem = ListingProblem(app->Workbooks().Open(path));
    app->Quit();
    return problem.empty() ? problem : "output " + path + ": " + problem;
  } catch (const automation::AutomationError& error) {
    return "output " + path + " cannot be opened again: " + error.Description();
  }
}

struct SplitResult {
  std::vector<std::string> errors;  // descriptions of the AutomationErrors, in order
  std::set<std::string> outputs;    // file names of the finished outputs
  std::string problem;              // what went wrong beyond clean errors; "" when nothing
};

// Opens the workbook at sandbox.Input(inputName), lists its sheets and writes every worksheet
// into sandbox.Out() as tabrendcli names them; then one output with a renamed copy, and one
// holding every worksheet. Failures must be AutomationErrors; anything else escapes (to the
// fuzzer, a crash). Then checks that only finished outputs were written, each well-formed
// and opening again.
inline SplitResult SplitEverySheet(const Sandbox& sandbox, const std::string& inputName, bool extraOutputs = true) {
  SplitResult result;
  auto app = automation::CreateObject("Excel.Application");
  automation::Workbook* source = nullptr;
  try {
    source = &app->Workbooks().Open(sandbox.Input(inputName));
  } catch (const automation::AutomationError& error) {
    result.errors.push_back(error.Description());
    result.problem = sandbox.ConfinementProblem(inputName, result.outputs);
    return result;
  }
  try {
    result.problem = ListingProblem(*source);
  } catch (const automation::AutomationError& error) {
    result.problem = "listing the sheets of an opened workbook failed: " + error.Description();
  }
  if (!result.problem.empty()) return result;
  auto attempt = [&](const std::string& file, auto&& write) {
    try {
      write();
      result.outputs.insert(file);
    } catch (const automation::AutomationError& error) {
      result.errors.push_back(error.Description());  // refused cleanly; what was at the path is back
    }
  };
  CountingRandom random;
  std::int32_t running = 0;
  const long count = source->Worksheets().Count();
  for (long i = 1; i <= count; ++i) {
    automation::Sheet& sheet = source->Worksheets()(i);
    const std::string name = sheet.name();
    const std::string file = OutputName(inputName, name, NameMode::kSheetName, running, random) + ".xlsx";
    attempt(file, [&] { WriteSheetFile(*app, sheet, sandbox.Out(), file, name); });
  }
  // A renamed copy rewrites every reference to the sheet, and its name needs quoting.
  if (extraOutputs && count >= 1)
    attempt("renamed.xlsx", [&] { WriteSheetFile(*app, source->Worksheets()(1), sandbox.Out(), "renamed.xlsx", "Ren'amed 1"); });
  // Several sheets in one output: the strings and names they share.
  if (extraOutputs && count >= 2 && count <= 8) {
    automation::Workbook* all = nullptr;
    try {
      all = &app->Workbooks().Add();
      all->SaveAs(sandbox.Out() + "/all.xlsx");
      result.outputs.insert("all.xlsx");  // SaveAs wrote it; a later failure leaves that file
      for (long i = count; i >= 1; --i) source->Worksheets()(i).Copy(all->Sheets()(1));
      all->Sheets()(all->Sheets().Count()).Delete();  // the blank "Sheet1"
      all->Save();
    } catch (const automation::AutomationError& error) {
      result.errors.push_back(error.Description());
    }
    if (all != nullptr) {
      try {
        all->Close();
      } catch (const automation::AutomationError&) {
        // closed by the failure already
      }
    }
  }
  source->Close();
  app->Quit();
  result.problem = sandbox.ConfinementProblem(inputName, result.outputs);
  for (const std::string& output : result.outputs)
    if (result.problem.empty()) result.problem = OutputProblem(sandbox.Out() + "/" + output);
  return result;
}

}  // namespace tabrend::fuzz
