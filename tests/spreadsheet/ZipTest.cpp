// The package codec: what the writer deflates, other ZIP readers read back whole, and the
// reader refuses a damaged deflate stream with an error naming the file and the part.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "core/Error.h"
#include "spreadsheet/Zip.h"

namespace tabrend::spreadsheet {
namespace {

namespace fs = std::filesystem;

class ZipTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tabrend-zip-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void Spill(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  // A one-part package holding bytes, written by ZipWriter.
  std::string OnePart(const std::string& name, const std::string& bytes) {
    const std::string path = Path(name + ".zip");
    ZipWriter writer(path);
    writer.AddBytes(name, bytes);
    writer.Commit();
    return path;
  }

  // The description ZipReader fails with when it streams the package's first part.
  static std::string StreamError(const std::string& path) {
    try {
      const ZipReader reader(path);
      reader.Stream(0, [](const char*, std::size_t) {});
    } catch (const AutomationError& error) {
      return error.what();
    }
    return "";
  }

  fs::path folder_;
};

std::string Incompressible(std::size_t size) {
  std::mt19937_64 random(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string SheetLike(std::size_t rows) {
  std::string xml = "<sheetData>";
  for (std::size_t r = 1; r <= rows; ++r)
    xml += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\" s=\"3\"><v>" +
           std::to_string(r * 7919 % 100003) + "</v></c></row>";
  return xml + "</sheetData>";
}

// Large parts, some incompressible, from bytes, from a file and from scratch parts deflated
// as written (one held in memory, one past it in a file), and an empty one; and a raw copy
// of one of them into a second package.
TEST_F(ZipTest, LargePartsRoundTripThroughOtherReaders) {
  const std::string noise = Incompressible(3 << 20);
  const std::string mixed = SheetLike(120'000) + Incompressible(1 << 20) + SheetLike(1000);
  const std::string spilled = noise + mixed;
  ASSERT_GT(noise.size(), ScratchFile::kHeldBytes / 2);
  const std::string path = Path("round.zip");
  {
    ZipWriter writer(path);
    writer.AddBytes("noise.bin", noise);
    std::FILE* file = std::tmpfile();
    std::fwrite(mixed.data(), 1, mixed.size(), file);
    writer.AddFile("xl/worksheets/sheet1.xml", file);
    writer.AddBytes("empty.xml", "");
    for (const std::string* bytes : {&mixed, &spilled}) {
      ScratchFile scratch;
      for (std::size_t at = 0; at < bytes->size(); at += 1 << 16)
        ASSERT_TRUE(scratch.Write(std::string_view(*bytes).substr(at, 1 << 16)));
      ASSERT_TRUE(scratch.Finish());
      writer.AddDeflated(bytes == &mixed ? "held.xml" : "spilled.xml", scratch.Release());
    }
    writer.Commit();
  }
  const ZipReader reader(path);
  EXPECT_EQ(reader.Read(*reader.Find("noise.bin")), noise);
  std::string streamed;
  reader.Stream(*reader.Find("xl/worksheets/sheet1.xml"), [&](const char* data, std::size_t n) { streamed.append(data, n); });
  EXPECT_TRUE(streamed == mixed);
  EXPECT_EQ(reader.Read(*reader.Find("empty.xml")), "");
  EXPECT_TRUE(reader.Read(*reader.Find("held.xml")) == mixed);
  EXPECT_TRUE(reader.Read(*reader.Find("spilled.xml")) == spilled);

  const std::string copy = Path("copy.zip");
  {
    ZipWriter writer(copy);
    writer.AddRawCopy("xl/worksheets/sheet1.xml", reader, *reader.Find("xl/worksheets/sheet1.xml"));
    writer.Commit();
  }
  Spill(Path("noise.bin"), noise);
  Spill(Path("mixed.xml"), mixed);
  for (const std::string& zip : {path, copy})
    EXPECT_EQ(std::system(("unzip -tqq " + zip).c_str()), 0) << zip;
  // Python's zipfile checks each CRC and size as it reads, and compares the bytes.
  const std::string check =
      std::string(TABREND_PYTHON) + " -c \"import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None\n"
      "assert all(i.compress_type == zipfile.ZIP_DEFLATED for i in z.infolist())\n"
      "assert z.read('noise.bin') == open(sys.argv[2], 'rb').read()\n"
      "assert z.read('xl/worksheets/sheet1.xml') == open(sys.argv[3], 'rb').read()\n"
      "assert zipfile.ZipFile(sys.argv[4]).read('xl/worksheets/sheet1.xml') == open(sys.argv[3], 'rb').read()\n\" " +
      path + " " + Path("noise.bin") + " " + Path("mixed.xml") + " " + copy;
  EXPECT_EQ(std::system(check.c_str()), 0);
}

// Damage to a deflated part's stream or checksum is refused, naming the file and the part.
TEST_F(ZipTest, DamagedDeflateStreamIsRefused) {
  const std::string xml = SheetLike(20'000);
  const std::string good = Slurp(OnePart("sheet.xml", xml));
  // The writer puts the one part first: its data follows the local header and its name.
  const std::size_t data = 30 + std::string("sheet.xml").size();
  const std::size_t central = good.rfind("PK\x01\x02");
  ASSERT_EQ(good.compare(0, 4, "PK\x03\x04"), 0);
  ASSERT_NE(central, std::string::npos);

  std::string garbled = good;
  for (std::size_t i = 0; i < 64; ++i) garbled[data + 100 + i] = static_cast<char>(0xFF);
  Spill(Path("garbled.zip"), garbled);
  EXPECT_EQ(StreamError(Path("garbled.zip")),
            "'garbled.zip' is damaged: part sheet.xml cannot be read (Compressed data invalid)");

  std::string wrongCrc = good;
  wrongCrc[14] ^= 1;
  wrongCrc[central + 16] ^= 1;
  Spill(Path("crc.zip"), wrongCrc);
  EXPECT_EQ(StreamError(Path("crc.zip")), "'crc.zip' is damaged: part sheet.xml cannot be read (CRC error)");

  // The directory gives the stream fewer bytes than it has: it stops short.
  std::string cut = good;
  for (const std::size_t at : {std::size_t{18}, central + 20}) {
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = size << 8 | static_cast<unsigned char>(cut[at + i]);
    size /= 2;
    for (int i = 0; i < 4; ++i) cut[at + i] = static_cast<char>(size >> (8 * i));
  }
  Spill(Path("cut.zip"), cut);
  EXPECT_EQ(StreamError(Path("cut.zip")), "'cut.zip' is damaged: part sheet.xml cannot be read (Premature end of file)");
}

// A package goes into the path's own file, with no file beside it, only at Commit; parts
// larger than the writer's buffer come out whole.
TEST_F(ZipTest, CommitWritesThePathsOwnFileOnly) {
  const std::string path = Path("book.xlsx");
  Spill(path, "earlier bytes");
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  {
    ZipWriter abandoned(path);
    abandoned.AddBytes("a.xml", "<a/>");
  }
  EXPECT_EQ(Slurp(path), "earlier bytes");

  const std::string big = SheetLike(40'000) + Incompressible(1 << 19);
  {
    ZipWriter writer(path);
    writer.AddBytes("xl/worksheets/sheet1.xml", big);
    writer.AddBytes("b.xml", "<b/>");
    writer.Commit();
  }
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
  const ZipReader reader(path);
  EXPECT_TRUE(reader.Read(*reader.Find("xl/worksheets/sheet1.xml")) == big);
  EXPECT_EQ(reader.Read(*reader.Find("b.xml")), "<b/>");
  EXPECT_EQ(std::system(("unzip -tqq " + path).c_str()), 0);
}

}  // namespace
}  // namespace tabrend::spreadsheet
