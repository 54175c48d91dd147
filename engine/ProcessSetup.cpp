#include "engine/ProcessSetup.h"

#include <malloc.h>

#include <csignal>

namespace tabrend::engine {

namespace {

// Buffers up to this size come from the heap and stay there once freed; the largest a split
// holds (a deflated part kept in memory, a row buffer) are a few megabytes.
constexpr int kMmapThreshold = 32 << 20;
constexpr int kTrimThreshold = 256 << 20;

}  // namespace

void PrepareProcess() {
  std::signal(SIGXFSZ, SIG_IGN);
  ::mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
  ::mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
}

}  // namespace tabrend::engine
