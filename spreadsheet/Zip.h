// ZIP containers of workbook packages: a read-only reader that enforces the resource limits,
// and a writer that writes a new package at a path.
#pragma once

#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spreadsheet/ByteSink.h"

namespace tabrend::spreadsheet {

// A package opened read-only. The file is read, never written or locked.
// Throws AutomationError naming the file when it is missing, not a ZIP, damaged, encrypted,
// or breaks a resource limit.
class ZipReader {
 public:
  explicit ZipReader(const std::string& path);
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Entry index of a part name ("xl/workbook.xml", no leading "/"), compared ignoring ASCII
  // case as package part names are.
  std::optional<std::uint64_t> Find(std::string_view partName) const;
  const std::string& EntryName(std::uint64_t index) const { return names_[index]; }
  std::uint64_t EntryCount() const { return names_.size(); }
  std::uint64_t DecompressedSize(std::uint64_t index) const;

  // The whole decompressed part, for parts small enough to hold in memory.
  std::string Read(std::uint64_t index) const;
  // The decompressed part in chunks, for parts of any size within the limits.
  void Stream(std::uint64_t index, const std::function<void(const char*, std::size_t)>& sink) const;
  // The same until `sink` returns false, for readers that need only the start of a part; the
  // part's end checks are then skipped with the rest of it.
  void StreamWhile(std::uint64_t index, const std::function<bool(const char*, std::size_t)>& sink) const;

  // "'Q1.xlsx'", for messages.
  const std::string& Label() const { return label_; }
  zip_t* Handle() const { return archive_; }

 private:
  std::string label_;
  zip_t* archive_ = nullptr;
  std::vector<std::string> names_;
  std::unordered_map<std::string, std::uint64_t> byLowerName_;
};

// A new package written into the path's own file, created (or truncated) only at Commit and
// with no other file beside it: the caller that needs the file complete or absent under its
// final name writes it in a folder of its own and renames it (engine/SheetOutput.h). Nothing
// is written before Commit; a writer destroyed without Commit leaves the path untouched, and
// a failed Commit removes the file it began.
class ZipWriter {
 public:
  explicit ZipWriter(const std::string& path);
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  void AddBytes(const std::string& partName, std::string bytes);
  // Takes ownership of a temporary file, read from its start at Commit.
  void AddFile(const std::string& partName, std::FILE* file);
  // Takes ownership of a finished scratch file whose bytes are deflated already.
  void AddDeflated(const std::string& partName, ScratchFile::Deflated file);
  // Copies a part of an open package still compressed, without inflating it.
  void AddRawCopy(const std::string& partName, const ZipReader& source, std::uint64_t index);
  void Commit();

 private:
  void Add(const std::string& partName, zip_source_t* source);

  std::string path_;
  std::string label_;
  zip_t* archive_ = nullptr;
};

}  // namespace tabrend::spreadsheet
