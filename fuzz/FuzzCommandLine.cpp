// SplitCommandLine: any line is cut without a crash; the result says whether the tokens fit;
// no token is empty or holds a double quote; a line without quotes is cut at its blanks.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "CMD/Module1.h"

namespace {

class NoOpener : public tabrend::cli::FolderOpener {
 public:
  void Open(const std::string&) override { std::abort(); }
};

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  NoOpener opener;
  std::ostringstream log;
  tabrend::cli::Module1 module(opener, log);
  const bool accepted = module.SplitCommandLine(line);
  if (module.Args.size() > tabrend::cli::kMaxArgs) Finding("more tokens than allowed");
  for (const std::string& token : module.Args) {
    if (token.empty()) Finding("an empty token");
    if (token.find('"') != std::string::npos) Finding("a token holds a double quote");
  }
  if (line.find('"') == std::string::npos && line.find(tabrend::cli::kBlankPlaceholder) == std::string::npos) {
    std::vector<std::string> expected;
    std::size_t start = 0;
    while (start <= line.size()) {
      std::size_t end = line.find(' ', start);
      if (end == std::string::npos) end = line.size();
      if (end > start) expected.push_back(line.substr(start, end - start));
      start = end + 1;
    }
    const bool fits = expected.size() <= tabrend::cli::kMaxArgs;
    if (fits != accepted) Finding("accepted does not say whether the tokens fit");
    if (fits && expected != module.Args) Finding("a line without quotes was not cut at its blanks");
    if (!fits && !std::equal(module.Args.begin(), module.Args.end(), expected.begin())) Finding("the first tokens differ");
  }
  return 0;
}
