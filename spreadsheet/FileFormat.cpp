// Workbook formats by content. Compound files (OLE2) are read just far enough to list the
// streams of the root storage and the first records of a BIFF workbook stream.
#include "spreadsheet/FileFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "core/Error.h"
#include "spreadsheet/FileStamp.h"
#include "spreadsheet/OpenXml.h"
#include "spreadsheet/Zip.h"

namespace tabrend::spreadsheet {

namespace {

constexpr std::string_view kCompoundSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr std::uint32_t kLastRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kMaxEntries = 1 << 16;
// Enough of a workbook stream to pass its first records, where FILEPASS stands.
constexpr std::size_t kBiffHeadBytes = 1 << 16;

std::uint16_t U16(const char* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
}
std::uint32_t U32(const char* p) { return U16(p) | static_cast<std::uint32_t>(U16(p + 2)) << 16; }

class File {
 public:
  // Non-blocking, so that a FIFO is refused instead of waited on.
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat info {};
    if (fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) size_ = static_cast<std::uint64_t>(info.st_size);
  }
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  std::uint64_t Size() const { return size_; }
  bool ReadAt(std::uint64_t offset, char* buffer, std::size_t bytes) const {
    if (fd_ < 0 || offset > size_ || bytes > size_ - offset) return false;
    while (bytes > 0) {
      const ssize_t got = ::pread(fd_, buffer, bytes, static_cast<off_t>(offset));
      if (got <= 0) return false;
      buffer += got;
      offset += static_cast<std::uint64_t>(got);
      bytes -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_ = 0;
};

// A compound file's allocation tables and directory; nullopt-style failure through Valid().
class CompoundFile {
 public:
  struct Entry {
    std::string name;  // ASCII letters kept, anything else as '?'
    std::uint8_t type = 0;  // 1 storage, 2 stream, 5 root
    std::uint32_t left = kNoEntry, right = kNoEntry, child = kNoEntry;
    std::uint32_t start = 0;
    std::uint64_t size = 0;
  };

  explicit CompoundFile(const std::string& path) : file_(path) { valid_ = Load(); }
  bool Valid() const { return valid_; }

  // A stream directly under the root storage, by name ignoring ASCII case.
  std::optional<Entry> RootStream(std::string_view name) const {
    std::vector<bool> seen(entries_.size(), false);
    std::vector<std::uint32_t> pending{entries_[0].child};
    while (!pending.empty()) {
      const std::uint32_t id = pending.back();
      pending.pop_back();
      if (id >= entries_.size() || seen[id]) continue;
      seen[id] = true;
      const Entry& entry = entries_[id];
      if (entry.type == 2 && EqualNames(entry.name, name)) return entry;
      pending.push_back(entry.left);
      pending.push_back(entry.right);
    }
    return std::nullopt;
  }

  // At most maxBytes from the start of a stream; empty when its chain is broken.
  std::string Read(const Entry& entry, std::size_t maxBytes) const {
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(entry.size, maxBytes));
    std::string bytes;
    if (entry.size < miniCutoff_) {
      // Small streams live in the mini stream, itself a regular stream of the root entry.
      const std::vector<std::uint32_t> container =
          Chain(fat_, entries_[0].start, static_cast<std::size_t>(entries_[0].size / sectorSize_ + 1));
      std::vector<std::uint32_t> minis = Chain(miniFat_, entry.start, (wanted + kMiniSector - 1) / kMiniSector);
      for (std::uint32_t mini : minis) {
        const std::uint64_t at = static_cast<std::uint64_t>(mini) * kMiniSector;
        const std::uint64_t index = at / sectorSize_;
        if (index >= container.size()) return {};
        std::string piece(kMiniSector, '\0');
        if (!file_.ReadAt(SectorOffset(container[index]) + at % sectorSize_, piece.data(), piece.size())) return {};
        bytes += piece;
      }
    } else {
      for (std::uint32_t sector : Chain(fat_, entry.start, (wanted + sectorSize_ - 1) / sectorSize_)) {
        std::string piece(sectorSize_, '\0');
        if (!file_.ReadAt(SectorOffset(sector), piece.data(), piece.size())) return {};
        bytes += piece;
      }
    }
    if (bytes.size() < wanted) return {};
    bytes.resize(wanted);
    return bytes;
  }

 private:
  static constexpr std::size_t kMiniSector = 64;

  static bool EqualNames(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
  }

  std::uint64_t SectorOffset(std::uint32_t sector) const {
    return (static_cast<std::uint64_t>(sector) + 1) * sectorSize_;
  }

  bool ReadSector(std::uint32_t sector, std::string& into) const {
    if (sector > kLastRegularSector) return false;
    const std::size_t at = into.size();
    into.resize(at + sectorSize_);
    return file_.ReadAt(SectorOffset(sector), into.data() + at, sectorSize_);
  }

  // The sectors of a chain, at most limit of them; a chain that loops or leaves the table ends.
  static std::vector<std::uint32_t> Chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                          std::size_t limit) {
    std::vector<std::uint32_t> sectors;
    for (std::uint32_t sector = start;
         sector <= kLastRegularSector && sector < table.size() && sectors.size() < limit &&
         sectors.size() < table.size();
         sector = table[sector])
      sectors.push_back(sector);
    return sectors;
  }

  static void AppendEntries(const std::string& bytes, std::vector<std::uint32_t>& table) {
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) table.push_back(U32(bytes.data() + i));
  }

  bool Load() {
    char header[512];
    if (!file_.ReadAt(0, header, sizeof header) || std::string_view(header, 8) != kCompoundSignature) return false;
    const std::uint16_t shift = U16(header + 0x1E);
    if (U16(header + 0x1C) != 0xFFFE || (shift != 9 && shift != 12) || U16(header + 0x20) != 6) return false;
    sectorSize_ = std::size_t{1} << shift;
    const bool version3 = U16(header + 0x1A) == 3;
    const std::uint64_t sectorCount = file_.Size() / sectorSize_ + 1;
    const std::uint32_t fatSectors = U32(header + 0x2C);
    if (fatSectors > sectorCount) return false;
    miniCutoff_ = U32(header + 0x38);

    std::vector<std::uint32_t> fatLocations;
    for (std::size_t i = 0; i < 109 && fatLocations.size() < fatSectors; ++i)
      fatLocations.push_back(U32(header + 0x4C + 4 * i));
    std::uint32_t difat = U32(header + 0x44);
    for (std::uint64_t hops = 0; fatLocations.size() < fatSectors; ++hops) {
      std::string sector;
      if (hops > sectorCount || !ReadSector(difat, sector)) return false;
      const std::size_t perSector = sectorSize_ / 4 - 1;
      for (std::size_t i = 0; i < perSector && fatLocations.size() < fatSectors; ++i)
        fatLocations.push_back(U32(sector.data() + 4 * i));
      difat = U32(sector.data() + 4 * perSector);
    }
    std::string fatBytes;
    for (std::uint32_t location : fatLocations)
      if (!ReadSector(location, fatBytes)) return false;
    AppendEntries(fatBytes, fat_);

    std::string directory;
    for (std::uint32_t sector : Chain(fat_, U32(header + 0x30), kMaxEntries * kEntrySize / sectorSize_))
      if (!ReadSector(sector, directory)) return false;
    for (std::size_t at = 0; at + kEntrySize <= directory.size(); at += kEntrySize) {
      const char* raw = directory.data() + at;
      Entry entry;
      const std::size_t nameBytes = std::min<std::size_t>(U16(raw + 0x40), 64);
      for (std::size_t i = 0; i + 1 < nameBytes; i += 2) {
        const std::uint16_t unit = U16(raw + i);
        if (unit == 0) break;
        entry.name += unit < 0x80 ? static_cast<char>(unit) : '?';
      }
      entry.type = static_cast<std::uint8_t>(raw[0x42]);
      entry.left = U32(raw + 0x44);
      entry.right = U32(raw + 0x48);
      entry.child = U32(raw + 0x4C);
      entry.start = U32(raw + 0x74);
      entry.size = version3 ? U32(raw + 0x78) : U32(raw + 0x78) | static_cast<std::uint64_t>(U32(raw + 0x7C)) << 32;
      entries_.push_back(std::move(entry));
    }
    if (entries_.empty() || entries_[0].type != 5) return false;

    std::string miniFatBytes;
    for (std::uint32_t sector : Chain(fat_, U32(header + 0x3C), U32(header + 0x40)))
      if (!ReadSector(sector, miniFatBytes)) return false;
    AppendEntries(miniFatBytes, miniFat_);
    return true;
  }

  File file_;
  bool valid_ = false;
  std::size_t sectorSize_ = 512;
  std::uint64_t miniCutoff_ = 4096;  // the format's fixed value, read again from the header
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<Entry> entries_;
};

std::string Head(const std::string& path, std::size_t bytes) {
  File file(path);
  std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, file.Size())), '\0');
  if (!file.ReadAt(0, head.data(), head.size())) return {};
  return head;
}

// A BIFF stream not wrapped in a compound file, as Excel 2 to 4 wrote them: it opens with a
// BOF record.
bool IsBareBiff(const std::string& head) {
  if (head.size() < 8) return false;
  const std::uint16_t type = U16(head.data());
  const std::uint16_t length = U16(head.data() + 2);
  const bool bof = type == 0x0009 || type == 0x0209 || type == 0x0409 || type == 0x0809;
  return bof && (length == 4 || length == 6 || length == 8 || length == 16);
}

bool FileHoldsUtf16(const std::string& path, std::string_view ascii) {
  std::string needle;
  for (char c : ascii) {
    needle += c;
    needle += '\0';
  }
  // The marker sits near the start of the files that have it; a large file is not read whole.
  constexpr std::uint64_t kMaxSearchedBytes = 64u << 20;
  const File file(path);
  std::string content(static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), kMaxSearchedBytes)), '\0');
  return file.ReadAt(0, content.data(), content.size()) && content.find(needle) != std::string::npos;
}

FileFormat ZipFormat(const std::string& path) {
  try {
    const ZipReader zip(path);
    if (zip.Find("xl/workbook.bin")) return FileFormat::kBinaryPackage;
    if (const auto mimetype = zip.Find("mimetype")) {
      // The mimetype entry holds only the type: a large one is something else.
      constexpr std::uint64_t kMaxMimetypeBytes = 256;
      if (zip.DecompressedSize(*mimetype) < kMaxMimetypeBytes && zip.Read(*mimetype) == ooxml::type::kOpenDocumentSpreadsheet)
        return FileFormat::kOpenDocument;
      return FileFormat::kOther;
    }
    if (!zip.Find("[Content_Types].xml") && zip.Find("content.xml") && zip.Find("META-INF/manifest.xml"))
      return FileFormat::kOpenDocument;
  } catch (const AutomationError&) {
    // not a readable ZIP: the native engine says why
  }
  return FileFormat::kOther;
}

bool BiffIsEncrypted(const std::string& path) {
  const CompoundFile compound(path);
  if (!compound.Valid()) return false;
  auto stream = compound.RootStream("Workbook");
  if (!stream) stream = compound.RootStream("Book");
  if (!stream) return false;
  const std::string records = compound.Read(*stream, kBiffHeadBytes);
  // FILEPASS follows the globals' BOF, before the first sheet is declared.
  for (std::size_t at = 0; at + 4 <= records.size();) {
    const std::uint16_t type = U16(records.data() + at);
    if (at == 0 && type != 0x0809) return false;
    if (type == 0x002F) return true;
    if (type == 0x000A || type == 0x0085) return false;  // EOF, BOUNDSHEET
    at += 4 + U16(records.data() + at + 2);
  }
  return false;
}

bool OpenDocumentIsEncrypted(const std::string& path) {
  try {
    const ZipReader zip(path);
    const auto manifest = zip.Find("META-INF/manifest.xml");
    return manifest && zip.Read(*manifest).find("encryption-data") != std::string::npos;
  } catch (const AutomationError&) {
    return false;
  }
}

}  // namespace

bool CompoundHasStream(const std::string& path, const std::string& streamName) {
  const CompoundFile compound(path);
  return compound.Valid() && compound.RootStream(streamName).has_value();
}

namespace {

// The formats found so far, for every thread: a batch asks for each workbook's several times
// (whether to convert it, then as each thread opens it), and a package's is in its directory.
struct KnownFormats {
  static constexpr std::size_t kMaxFiles = 4096;
  std::mutex lock;
  std::map<FileStamp, FileFormat> byFile;
};

KnownFormats& Known() {
  static auto* const known = new KnownFormats;  // never destroyed: used until the end
  return *known;
}

FileFormat ReadFileFormat(const std::string& path) {
  const std::string head = Head(path, 8);
  if (head == kCompoundSignature) {
    const CompoundFile compound(path);
    // A compound file whose directory cannot be read is given to the converter, which is the
    // judge of damaged workbooks, unless the name of an encrypted package's stream shows.
    if (!compound.Valid())
      return FileHoldsUtf16(path, "EncryptedPackage") ? FileFormat::kEncryptedPackage : FileFormat::kExcel97;
    if (compound.RootStream("EncryptedPackage")) return FileFormat::kEncryptedPackage;
    if (compound.RootStream("Workbook") || compound.RootStream("Book")) return FileFormat::kExcel97;
    return FileFormat::kOther;
  }
  if (head.rfind("PK", 0) == 0) return ZipFormat(path);
  if (IsBareBiff(head)) return FileFormat::kExcel97;
  return FileFormat::kOther;
}

}  // namespace

FileFormat DetectFileFormat(const std::string& path) {
  KnownFormats& known = Known();
  const std::optional<FileStamp> stamp = StampOf(path);
  if (stamp) {
    std::lock_guard lock(known.lock);
    if (const auto found = known.byFile.find(*stamp); found != known.byFile.end()) return found->second;
  }
  const FileFormat format = ReadFileFormat(path);
  if (stamp && StampOf(path) == stamp) {  // not changed while read
    std::lock_guard lock(known.lock);
    if (known.byFile.size() >= KnownFormats::kMaxFiles) known.byFile.clear();
    known.byFile.emplace(*stamp, format);
  }
  return format;
}

bool NeedsPassword(const std::string& path) {
  switch (DetectFileFormat(path)) {
    case FileFormat::kExcel97: return BiffIsEncrypted(path);
    case FileFormat::kOpenDocument: return OpenDocumentIsEncrypted(path);
    default: return false;
  }
}

}  // namespace tabrend::spreadsheet
