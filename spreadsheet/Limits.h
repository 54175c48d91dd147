// Resource limits of the workbook engine. Files come from anywhere: a package that breaks one
// of these is refused with an error that names the limit, never obeyed.
#pragma once

#include <cstdint>

namespace tabrend::limits {

// Entries in one package.
inline constexpr std::uint64_t kMaxParts = 100'000;
// Decompressed size of one part that is streamed (worksheets).
inline constexpr std::uint64_t kMaxStreamedPartBytes = 8ull << 30;
// The memory a split may use, whatever its input: the limits below keep within it.
inline constexpr std::uint64_t kMemoryCeilingBytes = 1ull << 30;
// Decompressed size of one part that is read whole into memory (workbook, styles,
// relationships, drawings, charts).
inline constexpr std::uint64_t kMaxLoadedPartBytes = 256ull << 20;
// Size of one part parsed into a document tree, which takes several times the part's size.
inline constexpr std::uint64_t kMaxParsedPartBytes = 64ull << 20;
// Decompressed size of the shared-string part, which is streamed.
inline constexpr std::uint64_t kMaxSharedStringsPartBytes = 1ull << 30;
// Memory the shared-string table may hold: its entries' bytes and their index.
inline constexpr std::uint64_t kMaxSharedStringTableBytes = 512ull << 20;
// Decompressed size of the whole package.
inline constexpr std::uint64_t kMaxPackageBytes = 32ull << 30;
// Decompressed size over compressed size, for parts larger than kRatioFloorBytes. Real
// worksheets compress up to about 100:1; a ZIP bomb reaches 1000:1 and more.
inline constexpr std::uint64_t kMaxCompressionRatio = 1'000;
inline constexpr std::uint64_t kRatioFloorBytes = 16ull << 20;
// One element of a worksheet that the streaming copy must hold whole before it can write it
// (a cell, a conditional format or validation group, an extension block). The rest of a
// sheet streams; without this a few compressed megabytes could fill the memory.
inline constexpr std::uint64_t kMaxHeldElementBytes = 64ull << 20;
// Parts reached from a sheet through relationships one behind another (a sheet, its drawing,
// a chart, its picture: real packages need a handful). Deeper chains are refused before
// they exhaust the stack.
inline constexpr int kMaxPartChain = 64;
// Nesting depth of XML elements.
inline constexpr int kMaxXmlDepth = 256;
// Entries of the shared-string table.
inline constexpr std::uint64_t kMaxSharedStrings = 20'000'000;
// The format's own grid.
inline constexpr std::uint32_t kMaxRows = 1'048'576;
inline constexpr std::uint32_t kMaxColumns = 16'384;

}  // namespace tabrend::limits
