// Splits every worksheet of a package made of the fuzzer's bytes into a sandbox, through
// the automation interface as the programs do, and checks that nothing was written outside
// the output folder.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tabrend::fuzz::PrepareFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tabrend::fuzz::Sandbox sandbox;
  tabrend::fuzz::WriteBytes(sandbox.Input("Book.xlsx"), data, size);
  const auto result = tabrend::fuzz::SplitEverySheet(sandbox, "Book.xlsx");
  if (!result.problem.empty()) tabrend::fuzz::Finding(result.problem);
  return 0;
}
