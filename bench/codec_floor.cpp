// The codec floor of a split: the CPU time that inflating a workbook's sheet parts and
// deflating them again takes in one thread, with the codec and level the split uses (and,
// for comparison, zlib's level 1), and nothing else.
//     codec_floor WORKBOOK.xlsx [--isa-l-only]
// Prints one line per codec: "NAME inflate S deflate S floor S deflated BYTES"; the sheet
// parts are held in memory first, so no disk time is counted. --isa-l-only leaves zlib out,
// for rounds that judge the split against its own codec alone.
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "core/Error.h"
#include "spreadsheet/Deflate.h"
#include "spreadsheet/Zip.h"

namespace {

using tabrend::spreadsheet::Deflater;
using tabrend::spreadsheet::Inflater;

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Part {
  std::string compressed;  // raw deflate, as stored
  std::string xml;
};

constexpr std::size_t kPiece = 1 << 18;

void Isal(const std::vector<Part>& parts) {
  std::size_t sink = 0;
  double start = CpuSeconds();
  for (const Part& part : parts) {
    Inflater inflater;
    inflater.Write(part.compressed.data(), part.compressed.size(), [&](const char*, std::size_t n) { sink += n; });
  }
  const double inflate = CpuSeconds() - start;
  std::size_t deflated = 0;
  std::string out;
  start = CpuSeconds();
  for (const Part& part : parts) {
    // In pieces, as the split feeds it.
    Deflater deflater;
    std::size_t at = 0;
    do {
      const std::size_t n = std::min(kPiece, part.xml.size() - at);
      out.clear();
      deflater.Write(part.xml.data() + at, n, at + n == part.xml.size(), out);
      deflated += out.size();
      at += n;
    } while (at < part.xml.size());
  }
  const double deflate = CpuSeconds() - start;
  std::printf("isa-l-1 inflate %.3f deflate %.3f floor %.3f deflated %zu\n", inflate, deflate, inflate + deflate, deflated);
}

void Zlib(const std::vector<Part>& parts) {
  std::vector<unsigned char> out(kPiece);
  double start = CpuSeconds();
  for (const Part& part : parts) {
    z_stream stream{};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.compressed.data()));
    stream.avail_in = static_cast<uInt>(part.compressed.size());
    int status = Z_OK;
    while (status == Z_OK) {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      status = inflate(&stream, Z_NO_FLUSH);
    }
    inflateEnd(&stream);
  }
  const double inflate = CpuSeconds() - start;
  std::size_t deflated = 0;
  start = CpuSeconds();
  for (const Part& part : parts) {
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.xml.data()));
    stream.avail_in = static_cast<uInt>(part.xml.size());
    int status = Z_OK;
    while (status == Z_OK) {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      status = deflate(&stream, Z_FINISH);
      deflated += out.size() - stream.avail_out;
    }
    deflateEnd(&stream);
  }
  const double deflate = CpuSeconds() - start;
  std::printf("zlib-1 inflate %.3f deflate %.3f floor %.3f deflated %zu\n", inflate, deflate, inflate + deflate, deflated);
}

}  // namespace

int main(int argc, char** argv) {
  const bool isalOnly = argc == 3 && std::string(argv[2]) == "--isa-l-only";
  if (argc != 2 && !isalOnly) {
    std::fprintf(stderr, "usage: codec_floor WORKBOOK.xlsx [--isa-l-only]\n");
    return 2;
  }
  try {
    const tabrend::spreadsheet::ZipReader reader(argv[1]);
    std::vector<Part> parts;
    for (std::uint64_t i = 0; i < reader.EntryCount(); ++i) {
      const std::string& name = reader.EntryName(i);
      if (name.rfind("xl/worksheets/", 0) != 0 || name.find('/', 14) != std::string::npos) continue;
      zip_stat_t st;
      zip_stat_index(reader.Handle(), i, 0, &st);
      if (st.comp_method != ZIP_CM_DEFLATE) continue;
      Part part;
      zip_file_t* file = zip_fopen_index(reader.Handle(), i, ZIP_FL_COMPRESSED);
      part.compressed.resize(st.comp_size);
      zip_fread(file, part.compressed.data(), part.compressed.size());
      zip_fclose(file);
      reader.Stream(i, [&](const char* data, std::size_t n) { part.xml.append(data, n); });
      parts.push_back(std::move(part));
    }
    Isal(parts);
    if (!isalOnly) Zlib(parts);
  } catch (const tabrend::AutomationError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
