// ZIP reading with limits, and all-or-nothing ZIP writing, over libzip.
#include "spreadsheet/Zip.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "spreadsheet/Error.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/FileFormat.h"
#include "spreadsheet/Limits.h"

namespace tabrend {

std::string Quoted(const std::string& pathOrName) {
  const auto slash = pathOrName.find_last_of('/');
  return "'" + (slash == std::string::npos ? pathOrName : pathOrName.substr(slash + 1)) + "'";
}

namespace spreadsheet {

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
    if (errno == EACCES) Fail(label + " cannot be read: permission denied");
    Fail(label + " could not be found: check that the file exists and was not moved or deleted");
  }
  if (S_ISDIR(info.st_mode)) Fail(label + " is a folder, not a workbook");
  if (info.st_size == 0) Fail(label + " is not a workbook: the file is empty");
  const std::string head = FileHead(path, 8);
  if (head == std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) {
    const FileFormat format = DetectFileFormat(path);
    if (format == FileFormat::kEncryptedPackage)
      Fail(label + " is encrypted with a password; remove the password in the spreadsheet "
                   "program and try again");
    if (format == FileFormat::kExcel97)
      Fail(label + " is an Excel 97-2003 workbook (.xls), which cannot be opened as a workbook "
                   "package");
    Fail(label + " is not a workbook: it is a compound document with no workbook stream");
  }
  if (zipError == ZIP_ER_OPEN || zipError == ZIP_ER_READ)
    Fail(label + " cannot be read: " + std::strerror(errno));
  if (head.rfind("PK\x03\x04", 0) == 0)
    Fail(label + " is damaged or truncated: no ZIP central directory");
  if (zipError == ZIP_ER_INCONS) Fail(label + " is damaged: its ZIP directory is inconsistent");
  Fail(label + " is not a workbook: no ZIP central directory");
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

}  // namespace

ZipReader::ZipReader(const std::string& path) : label_(Quoted(path)) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    Fail(label_ + " is a folder, not a workbook");
  int error = 0;
  archive_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (archive_ == nullptr) FailUnopenable(path, label_, error);
  const zip_int64_t count = zip_get_num_entries(archive_, 0);
  if (count < 0 || static_cast<std::uint64_t>(count) > limits::kMaxParts) {
    zip_discard(archive_);
    Fail(label_ + " is refused: it holds more than " + std::to_string(limits::kMaxParts) +
         " parts");
  }
  std::uint64_t total = 0;
  names_.reserve(static_cast<std::size_t>(count));
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), 0, &st) != 0 || st.name == nullptr) {
      zip_discard(archive_);
      Fail(label_ + " is damaged: entry " + std::to_string(i) + " of its ZIP directory is unreadable");
    }
    const std::string written = st.name;
    std::string name = written;
    // Some writers separate with "\\"; as part names they mean "/", and no output may carry
    // a name that another system would unpack outside its folder.
    std::replace(name.begin(), name.end(), '\\', '/');
    if (!name.empty() && name.front() == '/') name.erase(0, 1);
    if (ClimbsOrIsEmpty(name)) {
      zip_discard(archive_);
      Fail(label_ + " is refused: its part name '" + written + "' climbs out of the package");
    }
    total += st.size;
    if (total > limits::kMaxPackageBytes) {
      zip_discard(archive_);
      Fail(label_ + " is refused: its parts decompress to more than " +
           std::to_string(limits::kMaxPackageBytes >> 30) + " GiB");
    }
    if (st.size > limits::kRatioFloorBytes && st.comp_size > 0 &&
        st.size / st.comp_size > limits::kMaxCompressionRatio) {
      zip_discard(archive_);
      Fail(label_ + " is refused: part " + name + " decompresses more than " +
           std::to_string(limits::kMaxCompressionRatio) + " times its stored size (a ZIP bomb)");
    }
    // Two parts of one name: readers disagree on which one counts, so none is chosen here.
    if (!byLowerName_.emplace(LowerAscii(name), static_cast<std::uint64_t>(i)).second && name.back() != '/') {
      zip_discard(archive_);
      Fail(label_ + " is damaged: it holds the part " + name + " twice, and readers disagree on which one counts");
    }
    names_.push_back(std::move(name));
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
    Fail(label_ + " is refused: part " + names_[index] + " is larger than " +
         std::to_string(limits::kMaxLoadedPartBytes >> 20) + " MiB");
  std::string bytes;
  // The size is only the directory's claim: a file of a few bytes may claim a gigabyte.
  bytes.reserve(static_cast<std::size_t>(std::min(size, limits::kRatioFloorBytes)));
  Stream(index, [&](const char* data, std::size_t length) { bytes.append(data, length); });
  return bytes;
}

void ZipReader::Stream(std::uint64_t index,
                       const std::function<void(const char*, std::size_t)>& sink) const {
  const std::uint64_t declared = DecompressedSize(index);
  if (declared > limits::kMaxStreamedPartBytes)
    Fail(label_ + " is refused: part " + names_[index] + " is larger than " +
         std::to_string(limits::kMaxStreamedPartBytes >> 30) + " GiB");
  zip_file_t* file = zip_fopen_index(archive_, index, 0);
  if (file == nullptr) {
    const int code = zip_error_code_zip(zip_get_error(archive_));
    if (code == ZIP_ER_ENCRNOTSUPP || code == ZIP_ER_NOPASSWD)
      Fail(label_ + " is encrypted: part " + names_[index] + " needs a password");
    if (code == ZIP_ER_COMPNOTSUPP)
      Fail(label_ + ": part " + names_[index] + " uses a compression method that is not supported");
    Fail(label_ + " is damaged: part " + names_[index] + " cannot be read (" +
         zip_strerror(archive_) + ")");
  }
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> guard(file, zip_fclose);
  std::vector<char> buffer(1 << 16);
  std::uint64_t total = 0;
  for (;;) {
    const zip_int64_t got = zip_fread(file, buffer.data(), buffer.size());
    if (got < 0)
      Fail(label_ + " is damaged: part " + names_[index] + " cannot be read (" +
           zip_file_strerror(file) + ")");
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
    if (total > declared)  // the directory lied about the size
      Fail(label_ + " is damaged: part " + names_[index] + " is longer than its directory says");
    sink(buffer.data(), static_cast<std::size_t>(got));
  }
}

ZipWriter::ZipWriter(const std::string& path) : path_(path), label_(Quoted(path)) {
  int error = 0;
  archive_ = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive_ == nullptr) {
    zip_error_t detail;
    zip_error_init_with_code(&detail, error);
    const std::string reason = zip_error_strerror(&detail);
    zip_error_fini(&detail);
    Fail(label_ + " cannot be written: " + reason);
  }
}

ZipWriter::~ZipWriter() {
  if (archive_ != nullptr) zip_discard(archive_);
  for (std::FILE* file : files_) std::fclose(file);
}

void ZipWriter::Add(const std::string& partName, zip_source_t* source, bool compress) {
  if (source == nullptr) Fail(label_ + " cannot be written: " + zip_strerror(archive_));
  const zip_int64_t index = zip_file_add(archive_, partName.c_str(), source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    Fail(label_ + " cannot be written: part " + partName + ": " + zip_strerror(archive_));
  }
  // Level 1: deflate's fastest level costs a fifth of the default's time for outputs about
  // 15% larger; raw copies keep their own compression.
  if (compress) zip_set_file_compression(archive_, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 1);
  zip_file_set_mtime(archive_, static_cast<zip_uint64_t>(index), 315532800, 0);  // 1980-01-01
}

void ZipWriter::AddBytes(const std::string& partName, std::string bytes) {
  buffers_.push_back(std::move(bytes));
  const std::string& kept = buffers_.back();
  Add(partName, zip_source_buffer(archive_, kept.data(), kept.size(), 0), true);
}

void ZipWriter::AddFile(const std::string& partName, std::FILE* file) {
  files_.push_back(file);
  std::rewind(file);
  zip_source_t* source = zip_source_filep(archive_, file, 0, -1);
  if (source != nullptr) files_.pop_back();  // the source closes it from now on
  Add(partName, source, true);
}

void ZipWriter::AddRawCopy(const std::string& partName, const ZipReader& source,
                           std::uint64_t index) {
  Add(partName, zip_source_zip(archive_, source.Handle(), index, 0, 0, -1), false);
}

void ZipWriter::Commit() {
  if (zip_close(archive_) != 0) {
    const std::string reason = zip_strerror(archive_);
    zip_discard(archive_);
    archive_ = nullptr;
    Fail(label_ + " cannot be written: " + reason);
  }
  archive_ = nullptr;
}

}  // namespace spreadsheet
}  // namespace tabrend
