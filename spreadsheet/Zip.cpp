// ZIP reading with limits, and all-or-nothing ZIP writing, over libzip; deflated data goes
// through ISA-L (Deflate.h) both ways.
#include "spreadsheet/Zip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>

#include "core/Error.h"
#include "spreadsheet/Deflate.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/FileFormat.h"
#include "spreadsheet/Limits.h"

namespace tabrend::spreadsheet {

namespace {

std::string FileHead(const std::string& path, std::size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string head(bytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(bytes));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head;
}

// Why a file that libzip will not open is not a workbook, in words a person can act on.
[[noreturn]] void FailUnopenable(const std::string& path, const std::string& label, int zipError) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == EACCES) Fail(ErrorReason::kUnreadable, label + " cannot be read: permission denied");
    Fail(ErrorReason::kMissing, label + " could not be found: check that the file exists and was not moved or deleted");
  }
  if (S_ISDIR(info.st_mode)) Fail(ErrorReason::kNotAWorkbook, label + " is a folder, not a workbook");
  if (info.st_size == 0) Fail(ErrorReason::kNotAWorkbook, label + " is not a workbook: the file is empty");
  const std::string head = FileHead(path, 8);
  if (head == std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) {
    const FileFormat format = DetectFileFormat(path);
    if (format == FileFormat::kEncryptedPackage)
      Fail(ErrorReason::kEncrypted, label + " is encrypted with a password; remove the password in the spreadsheet "
                   "program and try again");
    if (format == FileFormat::kExcel97)
      Fail(ErrorReason::kUnsupported,
           label + " is an Excel 97-2003 workbook (.xls), which cannot be opened as a workbook "
                   "package");
    Fail(ErrorReason::kNotAWorkbook, label + " is not a workbook: it is a compound document with no workbook stream");
  }
  if (zipError == ZIP_ER_OPEN || zipError == ZIP_ER_READ)
    Fail(ErrorReason::kUnreadable, label + " cannot be read: " + std::strerror(errno));
  if (head.rfind("PK\x03\x04", 0) == 0)
    Fail(ErrorReason::kDamaged, label + " is damaged or truncated: no ZIP central directory");
  if (zipError == ZIP_ER_INCONS) Fail(ErrorReason::kDamaged, label + " is damaged: its ZIP directory is inconsistent");
  Fail(ErrorReason::kNotAWorkbook, label + " is not a workbook: no ZIP central directory");
}

// A part name with an empty, "." or ".." segment.
bool ClimbsOrIsEmpty(const std::string& name) {
  if (name.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    const auto end = std::min(name.find('/', start), name.size());
    const std::string_view segment(name.data() + start, end - start);
    if (segment == ".." || segment == "." || (segment.empty() && end != name.size())) return true;
    if (end == name.size()) return false;
    start = end + 1;
  }
}

// Little-endian fields of ZIP records.
std::uint64_t Field(const std::string& bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

// Bytes of a file by position; short where the file ends.
class FileBytes {
 public:
  explicit FileBytes(const std::string& path) : descriptor_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (descriptor_ >= 0 && ::fstat(descriptor_, &info) == 0) size_ = static_cast<std::uint64_t>(info.st_size);
  }
  ~FileBytes() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  std::uint64_t Size() const { return size_; }
  std::string At(std::uint64_t offset, std::size_t length) const {
    std::string bytes(length, '\0');
    const ssize_t got = descriptor_ < 0 || offset > size_ ? -1 : ::pread(descriptor_, bytes.data(), length, static_cast<off_t>(offset));
    bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    return bytes;
  }

 private:
  int descriptor_;
  std::uint64_t size_ = 0;
};

constexpr std::uint32_t kLocalHeader = 0x04034b50, kCentralHeader = 0x02014b50, kEndOfDirectory = 0x06054b50,
                        kZip64End = 0x06064b50, kZip64Locator = 0x07064b50;
constexpr std::size_t kLocalHeaderBytes = 30, kCentralHeaderBytes = 46, kEndBytes = 22, kLocatorBytes = 20,
                      kZip64EndBytes = 56, kLongestComment = 0xFFFF;

// The central directory's names with the local header offsets, as read from the end record at
// `end`; nothing when that record does not lead to a whole directory.
std::optional<std::vector<std::pair<std::string, std::uint64_t>>> CentralEntries(const FileBytes& file,
                                                                                 std::uint64_t end) {
  const std::string record = file.At(end, kEndBytes);
  if (record.size() < kEndBytes) return std::nullopt;
  std::uint64_t count = Field(record, 10, 2), offset = Field(record, 16, 4);
  if ((count == 0xFFFF || offset == 0xFFFFFFFF) && end >= kLocatorBytes) {
    const std::string locator = file.At(end - kLocatorBytes, kLocatorBytes);
    if (locator.size() == kLocatorBytes && Field(locator, 0, 4) == kZip64Locator) {
      const std::string zip64 = file.At(Field(locator, 8, 8), kZip64EndBytes);
      if (zip64.size() < kZip64EndBytes || Field(zip64, 0, 4) != kZip64End) return std::nullopt;
      count = Field(zip64, 32, 8);
      offset = Field(zip64, 48, 8);
    }
  }
  if (count > limits::kMaxParts) return std::nullopt;
  std::vector<std::pair<std::string, std::uint64_t>> entries;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::string header = file.At(offset, kCentralHeaderBytes);
    if (header.size() < kCentralHeaderBytes || Field(header, 0, 4) != kCentralHeader) return std::nullopt;
    const std::size_t nameBytes = Field(header, 28, 2), extraBytes = Field(header, 30, 2), commentBytes = Field(header, 32, 2);
    const std::string rest = file.At(offset + kCentralHeaderBytes, nameBytes + extraBytes);
    if (rest.size() < nameBytes + extraBytes) return std::nullopt;
    std::uint64_t local = Field(header, 42, 4);
    if (local == 0xFFFFFFFF) {
      // The ZIP64 field holds, in order, each of these that the header left at its maximum.
      for (std::size_t at = nameBytes; at + 4 <= rest.size();) {
        const std::size_t id = Field(rest, at, 2), length = Field(rest, at + 2, 2);
        if (id == 0x0001) {
          std::size_t field = at + 4 + 8 * ((Field(header, 24, 4) == 0xFFFFFFFF) + (Field(header, 20, 4) == 0xFFFFFFFF));
          if (field + 8 <= at + 4 + length && field + 8 <= rest.size()) local = Field(rest, field, 8);
          break;
        }
        at += 4 + length;
      }
    }
    entries.emplace_back(rest.substr(0, nameBytes), local);
    offset += kCentralHeaderBytes + nameBytes + extraBytes + commentBytes;
  }
  return entries;
}

// Why readers would not agree on the parts of the package libzip opened as `archive`: a local
// file header naming its part otherwise than the central directory does (readers that walk the
// local headers take that name), or a directory this reading does not find as libzip found it.
// "" when they agree.
std::string HeaderDisagreement(const std::string& path, zip_t* archive, zip_int64_t count) {
  const FileBytes file(path);
  // The end record is one of the last "PK\5\6" of the file: the one whose directory is the
  // one libzip read.
  const std::uint64_t tail = std::min<std::uint64_t>(file.Size(), kEndBytes + kLongestComment);
  const std::string bytes = file.At(file.Size() - tail, static_cast<std::size_t>(tail));
  for (std::size_t at = bytes.size() < kEndBytes ? std::string::npos : bytes.size() - kEndBytes; at != std::string::npos;
       at = at == 0 ? std::string::npos : at - 1) {
    if (Field(bytes, at, 4) != kEndOfDirectory) continue;
    const auto entries = CentralEntries(file, file.Size() - tail + at);
    if (!entries || entries->size() != static_cast<std::uint64_t>(count)) continue;
    bool same = true;
    for (zip_int64_t i = 0; same && i < count; ++i) {
      const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
      same = name != nullptr && (*entries)[static_cast<std::size_t>(i)].first == name;
    }
    if (!same) continue;
    for (const auto& [name, local] : *entries) {
      const std::string header = file.At(local, kLocalHeaderBytes);
      if (header.size() < kLocalHeaderBytes || Field(header, 0, 4) != kLocalHeader)
        return "the part " + name + " has no local header where its directory says";
      const std::string localName = file.At(local + kLocalHeaderBytes, Field(header, 26, 2));
      if (localName != name)
        return "the part " + name + " is named " + localName + " in its local header, and readers disagree on which name counts";
    }
    return {};
  }
  return "its ZIP directory can be read in more than one way";
}

}  // namespace

ZipReader::ZipReader(const std::string& path) : label_(Quoted(path)) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    Fail(ErrorReason::kNotAWorkbook, label_ + " is a folder, not a workbook");
  int error = 0;
  archive_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (archive_ == nullptr) FailUnopenable(path, label_, error);
  const zip_int64_t count = zip_get_num_entries(archive_, 0);
  if (count < 0 || static_cast<std::uint64_t>(count) > limits::kMaxParts) {
    zip_discard(archive_);
    Fail(ErrorReason::kRefused, label_ + " is refused: it holds more than " + std::to_string(limits::kMaxParts) +
         " parts");
  }
  std::uint64_t total = 0;
  names_.reserve(static_cast<std::size_t>(count));
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), 0, &st) != 0 || st.name == nullptr) {
      zip_discard(archive_);
      Fail(ErrorReason::kDamaged,
           label_ + " is damaged: entry " + std::to_string(i) + " of its ZIP directory is unreadable");
    }
    const std::string written = st.name;
    std::string name = written;
    // Some writers separate with "\\"; as part names they mean "/", and no output may carry
    // a name that another system would unpack outside its folder.
    std::replace(name.begin(), name.end(), '\\', '/');
    if (!name.empty() && name.front() == '/') name.erase(0, 1);
    if (ClimbsOrIsEmpty(name)) {
      zip_discard(archive_);
      Fail(ErrorReason::kRefused, label_ + " is refused: its part name '" + written + "' climbs out of the package");
    }
    total += st.size;
    if (total > limits::kMaxPackageBytes) {
      zip_discard(archive_);
      Fail(ErrorReason::kRefused, label_ + " is refused: its parts decompress to more than " +
           std::to_string(limits::kMaxPackageBytes >> 30) + " GiB");
    }
    if (st.size > limits::kRatioFloorBytes && st.comp_size > 0 &&
        st.size / st.comp_size > limits::kMaxCompressionRatio) {
      zip_discard(archive_);
      Fail(ErrorReason::kRefused, label_ + " is refused: part " + name + " decompresses more than " +
           std::to_string(limits::kMaxCompressionRatio) + " times its stored size (a ZIP bomb)");
    }
    // Two parts of one name: readers disagree on which one counts, so none is chosen here.
    if (!byLowerName_.emplace(LowerAscii(name), static_cast<std::uint64_t>(i)).second && name.back() != '/') {
      zip_discard(archive_);
      Fail(ErrorReason::kDamaged,
           label_ + " is damaged: it holds the part " + name + " twice, and readers disagree on which one counts");
    }
    names_.push_back(std::move(name));
  }
  if (const std::string disagreement = HeaderDisagreement(path, archive_, count); !disagreement.empty()) {
    zip_discard(archive_);
    Fail(label_ + " is damaged: " + disagreement);
  }
}

ZipReader::~ZipReader() {
  if (archive_ != nullptr) zip_discard(archive_);
}

std::optional<std::uint64_t> ZipReader::Find(std::string_view partName) const {
  if (!partName.empty() && partName.front() == '/') partName.remove_prefix(1);
  const auto found = byLowerName_.find(LowerAscii(partName));
  if (found == byLowerName_.end()) return std::nullopt;
  return found->second;
}

std::uint64_t ZipReader::DecompressedSize(std::uint64_t index) const {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive_, index, 0, &st) != 0) return 0;
  return st.size;
}

std::string ZipReader::Read(std::uint64_t index) const {
  const std::uint64_t size = DecompressedSize(index);
  if (size > limits::kMaxLoadedPartBytes)
    Fail(ErrorReason::kRefused, label_ + " is refused: part " + names_[index] + " is larger than " +
         std::to_string(limits::kMaxLoadedPartBytes >> 20) + " MiB");
  std::string bytes;
  // The size is only the directory's claim: a file of a few bytes may claim a gigabyte.
  bytes.reserve(static_cast<std::size_t>(std::min(size, limits::kRatioFloorBytes)));
  Stream(index, [&](const char* data, std::size_t length) { bytes.append(data, length); });
  return bytes;
}

void ZipReader::Stream(std::uint64_t index,
                       const std::function<void(const char*, std::size_t)>& sink) const {
  StreamWhile(index, [&](const char* data, std::size_t length) {
    sink(data, length);
    return true;
  });
}

void ZipReader::StreamWhile(std::uint64_t index,
                            const std::function<bool(const char*, std::size_t)>& sink) const {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive_, index, 0, &st) != 0) st.valid = 0;
  const std::uint64_t declared = (st.valid & ZIP_STAT_SIZE) != 0 ? st.size : 0;
  if (declared > limits::kMaxStreamedPartBytes)
    Fail(ErrorReason::kRefused, label_ + " is refused: part " + names_[index] + " is larger than " +
         std::to_string(limits::kMaxStreamedPartBytes >> 30) + " GiB");
  const zip_flags_t valid = ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD | ZIP_STAT_CRC | ZIP_STAT_SIZE;
  // Deflated parts are inflated here, faster than libzip can; the rest (stored, other
  // methods, encrypted) go through libzip's reader.
  const bool inflateHere = (st.valid & valid) == valid && st.comp_method == ZIP_CM_DEFLATE &&
                           st.encryption_method == ZIP_EM_NONE;
  zip_file_t* file = zip_fopen_index(archive_, index, inflateHere ? ZIP_FL_COMPRESSED : 0);
  if (file == nullptr) {
    const int code = zip_error_code_zip(zip_get_error(archive_));
    if (code == ZIP_ER_ENCRNOTSUPP || code == ZIP_ER_NOPASSWD)
      Fail(ErrorReason::kEncrypted, label_ + " is encrypted: part " + names_[index] + " needs a password");
    if (code == ZIP_ER_COMPNOTSUPP)
      Fail(ErrorReason::kUnsupported,
           label_ + ": part " + names_[index] + " uses a compression method that is not supported");
    Fail(ErrorReason::kDamaged, label_ + " is damaged: part " + names_[index] + " cannot be read (" +
         zip_strerror(archive_) + ")");
  }
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> guard(file, zip_fclose);
  std::uint64_t total = 0;
  bool wanted = true;
  const auto counted = [&](const char* data, std::size_t length) {
    if (!wanted) return;
    total += length;
    if (total > declared)  // the directory lied about the size
      Fail(ErrorReason::kDamaged, label_ + " is damaged: part " + names_[index] + " is longer than its directory says");
    wanted = sink(data, length);
  };
  const auto unreadable = [&](const std::string& why) {
    Fail(ErrorReason::kDamaged, label_ + " is damaged: part " + names_[index] + " cannot be read (" + why + ")");
  };
  std::vector<char> buffer(1 << 16);
  std::optional<Inflater> inflater;
  if (inflateHere) inflater.emplace();
  bool ended = false;
  while (!ended) {
    const zip_int64_t got = zip_fread(file, buffer.data(), buffer.size());
    if (got < 0) unreadable(zip_file_strerror(file));
    if (got == 0) break;
    if (!inflater) {
      counted(buffer.data(), static_cast<std::size_t>(got));
      if (!wanted) return;
      continue;
    }
    const Inflater::State state = inflater->Write(buffer.data(), static_cast<std::size_t>(got), counted);
    if (!wanted) return;
    if (state == Inflater::State::kInvalid) unreadable("Compressed data invalid");
    ended = state == Inflater::State::kEnded;
  }
  if (!inflater) return;
  // libzip's own reader checks these at the end; the raw bytes come unchecked.
  if (!ended || total < declared) unreadable("Premature end of file");
  if (inflater->Crc() != st.crc) unreadable("CRC error");
}

namespace {

// The package file, as libzip's archive source: nothing of the path is read (the package is
// new), and the file is created or truncated only when libzip starts writing; a write libzip
// rolls back removes it. Writes go through a buffer: libzip writes headers a few bytes at a time.
class PackageFile {
 public:
  static zip_source_t* Make(const std::string& path, zip_error_t* error) {
    auto* self = new PackageFile(path);
    zip_source_t* source = zip_source_function_create(&PackageFile::Call, self, error);
    if (source == nullptr) delete self;
    return source;
  }

 private:
  explicit PackageFile(std::string path) : path_(std::move(path)) { zip_error_init(&error_); }
  ~PackageFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    zip_error_fini(&error_);
  }

  static constexpr std::size_t kBuffered = std::size_t{1} << 18;

  static zip_int64_t Call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    return static_cast<PackageFile*>(self)->Handle(data, length, command);
  }

  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
            ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE,
            ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE,
            ZIP_SOURCE_REMOVE, -1);
      case ZIP_SOURCE_STAT:
        zip_error_set(&error_, ZIP_ER_READ, ENOENT);  // libzip's word for "a new archive"
        return -1;
      case ZIP_SOURCE_CLOSE:
        return 0;
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_FREE:
        delete this;
        return 0;
      case ZIP_SOURCE_BEGIN_WRITE:
        descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (descriptor_ < 0) return Failed(ZIP_ER_TMPOPEN);  // the words libzip's own temporary file fails with
        position_ = end_ = 0;
        buffer_.clear();
        return 0;
      case ZIP_SOURCE_WRITE:
        return Write(static_cast<const char*>(data), static_cast<std::size_t>(length));
      case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(position_);
      case ZIP_SOURCE_SEEK_WRITE: {
        const zip_int64_t to = zip_source_seek_compute_offset(position_, end_, data, length, &error_);
        if (to < 0) return -1;
        position_ = static_cast<std::uint64_t>(to);
        return 0;
      }
      case ZIP_SOURCE_COMMIT_WRITE: {
        const bool flushed = Flush();
        const int closed = ::close(std::exchange(descriptor_, -1));
        if (!flushed) return -1;
        return closed == 0 ? 0 : Failed(ZIP_ER_WRITE);
      }
      case ZIP_SOURCE_ROLLBACK_WRITE:
        if (descriptor_ >= 0) {
          ::close(std::exchange(descriptor_, -1));
          ::unlink(path_.c_str());  // a partial package
        }
        return 0;
      case ZIP_SOURCE_REMOVE:
        return ::unlink(path_.c_str()) == 0 || errno == ENOENT ? 0 : Failed(ZIP_ER_REMOVE);
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  zip_int64_t Failed(int code) {
    zip_error_set(&error_, code, errno);
    return -1;
  }

  // libzip goes back over each part's local header once the part is written: bytes for
  // where the buffer holds are written over there.
  zip_int64_t Write(const char* data, std::size_t length) {
    const bool inBuffer = position_ >= bufferAt_ && position_ <= bufferAt_ + buffer_.size();
    if (!buffer_.empty() && !inBuffer && !Flush()) return -1;
    if (buffer_.empty()) bufferAt_ = position_;
    const std::size_t at = static_cast<std::size_t>(position_ - bufferAt_);
    buffer_.replace(at, std::min(length, buffer_.size() - at), data, length);
    position_ += length;
    end_ = std::max(end_, position_);
    if (buffer_.size() >= kBuffered && !Flush()) return -1;
    return static_cast<zip_int64_t>(length);
  }

  bool Flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t wrote = ::pwrite(descriptor_, buffer_.data() + done, buffer_.size() - done,
                                     static_cast<off_t>(bufferAt_ + done));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        if (wrote == 0) errno = EIO;
        Failed(ZIP_ER_WRITE);
        return false;
      }
      done += static_cast<std::size_t>(wrote);
    }
    buffer_.clear();
    return true;
  }

  std::string path_;
  int descriptor_ = -1;
  std::uint64_t position_ = 0;  // where the next write goes
  std::uint64_t end_ = 0;       // the length written so far
  std::string buffer_;          // bytes for bufferAt_ on, not yet written
  std::uint64_t bufferAt_ = 0;
  zip_error_t error_;
};

}  // namespace

ZipWriter::ZipWriter(const std::string& path) : path_(path), label_(Quoted(path)) {
  zip_error_t error;
  zip_error_init(&error);
  if (zip_source_t* source = PackageFile::Make(path, &error)) {
    archive_ = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive_ == nullptr) zip_source_free(source);
  }
  if (archive_ == nullptr) {
    const std::string reason = zip_error_strerror(&error);
    zip_error_fini(&error);
    Fail(ErrorReason::kNotWritten, label_ + " cannot be written: " + reason);
  }
  zip_error_fini(&error);
}

ZipWriter::~ZipWriter() {
  if (archive_ != nullptr) zip_discard(archive_);
}

namespace {

// A part that is deflated while libzip writes it. Its stat names the method before any byte
// is read, so libzip takes the bytes as they come without compressing them again, and takes
// the CRC and size from the stat it makes once they are read. A part is held whole only as
// the bytes or the small scratch part it was given: else a piece at a time goes through.
class DeflatingSource {
 public:
  explicit DeflatingSource(std::string bytes) : bytes_(std::move(bytes)), size_(bytes_.size()) {
    zip_error_init(&error_);
  }
  explicit DeflatingSource(std::FILE* file) : file_(file) {
    zip_error_init(&error_);
    if (::fseeko(file_, 0, SEEK_END) == 0) size_ = static_cast<std::uint64_t>(std::max<off_t>(::ftello(file_), 0));
    std::rewind(file_);
  }
  // A part deflated as it was written: its bytes go as they stand.
  explicit DeflatingSource(ScratchFile::Deflated deflated)
      : bytes_(std::move(deflated.bytes)), file_(deflated.file), size_(deflated.size), crc_(deflated.crc),
        deflated_(true) {
    zip_error_init(&error_);
    if (file_ != nullptr) std::rewind(file_);
  }
  ~DeflatingSource() {
    if (file_ != nullptr) std::fclose(file_);
    zip_error_fini(&error_);
  }
  DeflatingSource(const DeflatingSource&) = delete;
  DeflatingSource& operator=(const DeflatingSource&) = delete;

  // The libzip source of a part, or null (with the part's file closed) when there is none.
  template <typename Part>
  static zip_source_t* Make(zip_t* archive, Part&& part) {
    auto* self = new DeflatingSource(std::forward<Part>(part));
    zip_source_t* source = zip_source_function(archive, &DeflatingSource::Call, self);
    if (source == nullptr) delete self;
    return source;
  }

 private:
  static zip_int64_t Call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    return static_cast<DeflatingSource*>(self)->Handle(data, length, command);
  }

  static constexpr std::size_t kPiece = std::size_t{1} << 18;

  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
      case ZIP_SOURCE_OPEN:
        return Open();
      case ZIP_SOURCE_READ:
        return Read(static_cast<char*>(data), length);
      case ZIP_SOURCE_CLOSE:
        // libzip closes each part once written and frees them all at the end: the deflater's
        // memory goes to the next part, and only its sums stay for the stat.
        if (deflater_ != nullptr && finished_) {
          size_ = deflater_->Size();
          crc_ = deflater_->Crc();
          deflater_.reset();
        }
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        st->size = finished_ && deflater_ != nullptr ? deflater_->Size() : size_;
        st->comp_method = ZIP_CM_DEFLATE;
        st->encryption_method = ZIP_EM_NONE;
        if (finished_ || deflated_) {
          st->valid |= ZIP_STAT_CRC;
          st->crc = deflater_ != nullptr ? deflater_->Crc() : crc_;
        }
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_FREE:
        delete this;
        return 0;
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  zip_int64_t Open() {
    if (file_ != nullptr) std::rewind(file_);
    offset_ = 0;
    // A part deflated already needs no deflater.
    if (!deflated_) deflater_ = std::make_unique<Deflater>();
    pending_.clear();
    pendingOffset_ = 0;
    finished_ = false;
    return 0;
  }

  zip_int64_t Read(char* to, zip_uint64_t length) {
    if (deflated_) return ReadDeflated(to, length);
    while (pendingOffset_ == pending_.size() && !finished_) {
      pending_.clear();
      pendingOffset_ = 0;
      if (file_ != nullptr) {
        piece_.resize(kPiece);
        const std::size_t got = std::fread(piece_.data(), 1, piece_.size(), file_);
        if (got < piece_.size() && std::ferror(file_)) {
          zip_error_set(&error_, ZIP_ER_READ, errno);
          return -1;
        }
        finished_ = got < piece_.size();
        deflater_->Write(piece_.data(), got, finished_, pending_);
      } else {
        const std::size_t piece = std::min(kPiece, bytes_.size() - offset_);
        finished_ = offset_ + piece == bytes_.size();
        deflater_->Write(bytes_.data() + offset_, piece, finished_, pending_);
        offset_ += piece;
      }
    }
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(length), pending_.size() - pendingOffset_);
    std::memcpy(to, pending_.data() + pendingOffset_, count);
    pendingOffset_ += count;
    return static_cast<zip_int64_t>(count);
  }

  zip_int64_t ReadDeflated(char* to, zip_uint64_t length) {
    if (file_ == nullptr) {
      const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(length), bytes_.size() - offset_);
      std::memcpy(to, bytes_.data() + offset_, count);
      offset_ += count;
      return static_cast<zip_int64_t>(count);
    }
    const std::size_t got = std::fread(to, 1, static_cast<std::size_t>(length), file_);
    if (got < length && std::ferror(file_)) {
      zip_error_set(&error_, ZIP_ER_READ, errno);
      return -1;
    }
    return static_cast<zip_int64_t>(got);
  }

  std::string bytes_;
  std::FILE* file_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint32_t crc_ = 0;
  bool deflated_ = false;
  std::size_t offset_ = 0;
  std::unique_ptr<Deflater> deflater_;
  std::vector<char> piece_;
  std::string pending_;
  std::size_t pendingOffset_ = 0;
  bool finished_ = false;
  zip_error_t error_;
};

}  // namespace

void ZipWriter::Add(const std::string& partName, zip_source_t* source) {
  if (source == nullptr) Fail(ErrorReason::kNotWritten, label_ + " cannot be written: " + zip_strerror(archive_));
  const zip_int64_t index = zip_file_add(archive_, partName.c_str(), source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    Fail(ErrorReason::kNotWritten, label_ + " cannot be written: part " + partName + ": " + zip_strerror(archive_));
  }
  zip_file_set_mtime(archive_, static_cast<zip_uint64_t>(index), 315532800, 0);  // 1980-01-01
}

void ZipWriter::AddBytes(const std::string& partName, std::string bytes) {
  Add(partName, DeflatingSource::Make(archive_, std::move(bytes)));
}

void ZipWriter::AddFile(const std::string& partName, std::FILE* file) {
  Add(partName, DeflatingSource::Make(archive_, file));
}

void ZipWriter::AddDeflated(const std::string& partName, ScratchFile::Deflated file) {
  Add(partName, DeflatingSource::Make(archive_, std::move(file)));
}

void ZipWriter::AddRawCopy(const std::string& partName, const ZipReader& source,
                           std::uint64_t index) {
  // Raw copies keep their own compression.
  Add(partName, zip_source_zip(archive_, source.Handle(), index, 0, 0, -1));
}

void ZipWriter::Commit() {
  if (zip_close(archive_) != 0) {
    const std::string reason = zip_strerror(archive_);
    zip_discard(archive_);
    archive_ = nullptr;
    Fail(ErrorReason::kNotWritten, label_ + " cannot be written: " + reason);
  }
  archive_ = nullptr;
}

}  // namespace tabrend::spreadsheet
