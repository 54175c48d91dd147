// Opens a package made of the fuzzer's bytes and lists its sheets: Open, then Worksheets
// and Sheets with their counts, items and names.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tabrend::fuzz::PrepareFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabrend;
  fuzz::Sandbox sandbox;
  fuzz::WriteBytes(sandbox.Input("input.xlsx"), data, size);
  auto app = automation::CreateObject("Excel.Application");
  try {
    automation::Workbook& book = app->Workbooks().Open(sandbox.Input("input.xlsx"));
    const std::string problem = fuzz::ListingProblem(book);
    if (!problem.empty()) fuzz::Finding(problem);
    book.Close();
  } catch (const automation::AutomationError& error) {
    if (error.Description().empty()) fuzz::Finding("an error without a description");
  }
  app->Quit();
  const std::string problem = sandbox.ConfinementProblem("input.xlsx", {});
  if (!problem.empty()) fuzz::Finding(problem);
  return 0;
}
