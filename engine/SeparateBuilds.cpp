// The Separate command's workers: the ticked workbooks and the sheet choices stored for them,
// as the split of each will follow them.
#include "engine/Module1.h"
#include "engine/ParallelSplit.h"

namespace tabrend::desktop {

std::unique_ptr<SheetBuilds> Module1::StartBuilds() {
  Builds = nullptr;
  const int threads = SplitThreads();
  if (threads <= 1) return nullptr;
  std::vector<SheetBuilds::Book> books;
  for (auto& [i, path] : TickedWorkbooks()) {
    // The workers read a copy of the choices, never the table itself.
    std::vector<std::pair<std::string, bool>> choices;
    if (SheetTable.HoldsChoices(i)) {
      for (int j = 1; j <= SheetTable::kMaxSheets; ++j) choices.emplace_back(SheetTable.Name(i, j), SheetTable.Ticked(i, j));
      while (!choices.empty() && choices.back().first.empty() && !choices.back().second) choices.pop_back();
    }
    const bool followChoices = !choices.empty();
    books.push_back({path, [choices = std::move(choices), followChoices](long j, const std::string& own) {
                       if (!followChoices || j > SheetTable::kMaxSheets) return std::optional<std::string>(own);
                       if (static_cast<std::size_t>(j) > choices.size() || !choices[j - 1].second)
                         return std::optional<std::string>();
                       return std::optional<std::string>(choices[j - 1].first);
                     }});
  }
  auto builds = std::make_unique<SheetBuilds>(std::move(books), threads, OutputRoot.substr(0, OutputRoot.size() - 1));
  Builds = builds.get();
  return builds;
}

}  // namespace tabrend::desktop
