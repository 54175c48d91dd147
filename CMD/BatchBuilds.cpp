// The batch's workers: every worksheet of every workbook of the batch, under its own name.
#include "CMD/Module1.h"

namespace tabrend::cli {

std::unique_ptr<SheetBuilds> Module1::StartBuilds(std::string stagingFolder) {
  while (stagingFolder.size() > 1 && stagingFolder.back() == '/') stagingFolder.pop_back();
  std::vector<SheetBuilds::Book> books;
  for (const auto& path : BatchFiles)  // every worksheet, under its own name
    books.push_back({path, [](long, const std::string& own) { return std::optional<std::string>(own); }});
  auto builds = std::make_unique<SheetBuilds>(std::move(books), SplitThreads(), stagingFolder);
  Builds = builds.get();
  return builds;
}

}  // namespace tabrend::cli
