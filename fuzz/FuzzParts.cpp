// The split, fed a package zipped here from the fuzzer's text of parts (fuzz/PartsPackage.h),
// so mutations reach the workbook, relationship, sheet, string and chart readers.
#include "fuzz/FuzzSupport.h"
#include "fuzz/PartsPackage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tabrend::fuzz::PrepareFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  tabrend::fuzz::Sandbox sandbox;
  if (!tabrend::fuzz::WritePackage(tabrend::fuzz::ParseParts(text), sandbox.Input("Book.xlsx"))) return 0;
  const auto result = tabrend::fuzz::SplitEverySheet(sandbox, "Book.xlsx");
  if (!result.problem.empty()) tabrend::fuzz::Finding(result.problem);
  return 0;
}
