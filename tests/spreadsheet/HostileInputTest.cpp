// Hostile and damaged packages: each resource limit is refused with the error that names it,
// every input the fuzzers once broke the engine with now fails cleanly (or splits), and no
// sheet name can make the split write outside its output folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "fuzz/PartsPackage.h"

namespace tabrend::fuzz {
namespace {

const std::string kMain = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// Appends little-endian fields: {value, width in bytes}.
void Fields(std::string& out, std::initializer_list<std::pair<std::uint64_t, int>> fields) {
  for (const auto& [value, width] : fields)
    for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Sizes a ZIP directory claims for a part, whatever the part really holds.
struct Claim {
  std::uint64_t size;
  std::uint64_t compressed;
};

// A stored ZIP of the parts, written by hand so that its central directory can claim sizes
// no real part has (ZIP64 fields where they pass 4 GiB). The engine must judge the claims
// before it reads anything.
std::string ClaimingZip(const Parts& parts, const std::map<std::string, Claim>& claims = {}) {
  std::string out, directory;
  for (const auto& [name, bytes] : parts) {
    const std::uint64_t offset = out.size();
    const std::uint32_t crc = Crc32(bytes);
    Fields(out, {{0x04034b50, 4}, {45, 2}, {0, 2}, {0, 2}, {0, 4}, {crc, 4}, {bytes.size(), 4}, {bytes.size(), 4},
                 {name.size(), 2}, {0, 2}});
    out += name + bytes;
    const auto claim = claims.find(name);
    const Claim sizes = claim != claims.end() ? claim->second : Claim{bytes.size(), bytes.size()};
    const bool wide = sizes.size >= 0xFFFFFFFFu || sizes.compressed >= 0xFFFFFFFFu;
    Fields(directory, {{0x02014b50, 4}, {45, 2}, {45, 2}, {0, 2}, {0, 2}, {0, 4}, {crc, 4},
                       {wide ? 0xFFFFFFFFu : sizes.compressed, 4}, {wide ? 0xFFFFFFFFu : sizes.size, 4},
                       {name.size(), 2}, {wide ? 20u : 0u, 2}, {0, 2}, {0, 2}, {0, 2}, {0, 4}, {offset, 4}});
    directory += name;
    if (wide) Fields(directory, {{1, 2}, {16, 2}, {sizes.size, 8}, {sizes.compressed, 8}});
  }
  const std::uint64_t start = out.size();
  out += directory;
  Fields(out, {{0x06054b50, 4}, {0, 2}, {0, 2}, {parts.size(), 2}, {parts.size(), 2}, {directory.size(), 4},
               {start, 4}, {0, 2}});
  return out;
}

// The default two-sheet package (sheets "Data" and "Other Sheet") with parts replaced.
std::string Package(const Parts& changes, const std::map<std::string, Claim>& claims = {}) {
  Parts parts = DefaultParts();
  for (const auto& [name, bytes] : changes) parts[name] = bytes;
  return ClaimingZip(parts, claims);
}

std::string Nested(const std::string& inner, int depth) {
  std::string open, close;
  for (int i = 0; i < depth; ++i) open += "<x>", close = "</x>" + close;
  return open + inner + close;
}

std::string Sheet(const std::string& rows) {
  return "<worksheet " + kMain + "><sheetData>" + rows + "</sheetData></worksheet>";
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Splits Book.xlsx holding bytes; the split must stay confined and write only sound outputs.
SplitResult SplitBytes(const std::string& bytes) {
  Sandbox sandbox;
  WriteFile(sandbox.Input("Book.xlsx"), bytes);
  SplitResult result = SplitEverySheet(sandbox, "Book.xlsx", false);
  EXPECT_EQ(result.problem, "");
  return result;
}

struct Limit {
  const char* name;
  std::function<std::string()> bytes;
  const char* error;  // the description one step of the split fails with
};

void PrintTo(const Limit& limit, std::ostream* out) { *out << limit.name; }

class LimitTest : public testing::TestWithParam<Limit> {};

TEST_P(LimitTest, IsRefusedWithItsError) {
  const SplitResult result = SplitBytes(GetParam().bytes());
  EXPECT_NE(std::find(result.errors.begin(), result.errors.end(), GetParam().error), result.errors.end())
      << testing::PrintToString(result.errors);
}

constexpr std::uint64_t kGiB = 1ull << 30;

INSTANTIATE_TEST_SUITE_P(
    Package, LimitTest,
    testing::Values(
        Limit{"parts",
              [] {
                Parts parts = DefaultParts();
                for (int i = 0; parts.size() <= 100'000; ++i) parts["p/" + std::to_string(i)] = "";
                return ClaimingZip(parts);
              },
              "'Book.xlsx' is refused: it holds more than 100000 parts"},
        Limit{"package_size",
              [] {
                return Package({{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}},
                               {{"a", {9 * kGiB, 10 << 20}}, {"b", {9 * kGiB, 10 << 20}},
                                {"c", {9 * kGiB, 10 << 20}}, {"d", {9 * kGiB, 10 << 20}}});
              },
              "'Book.xlsx' is refused: its parts decompress to more than 32 GiB"},
        Limit{"ratio", [] { return Package({}, {{"xl/worksheets/sheet2.xml", {2 * kGiB, 1 << 20}}}); },
              "'Book.xlsx' is refused: part xl/worksheets/sheet2.xml decompresses more than 1000 times its "
              "stored size (a ZIP bomb)"},
        Limit{"streamed_part", [] { return Package({}, {{"xl/worksheets/sheet2.xml", {9 * kGiB, 10 << 20}}}); },
              "'Book.xlsx' is refused: part xl/worksheets/sheet2.xml is larger than 8 GiB"},
        Limit{"loaded_part", [] { return Package({}, {{"xl/workbook.xml", {kGiB + 1, 2 << 20}}}); },
              "'Book.xlsx' is refused: part xl/workbook.xml is larger than 256 MiB"},
        // A part parsed whole takes several times its size: a large one is refused first.
        Limit{"parsed_part",
              [] {
                std::string rels = DefaultParts()["xl/_rels/workbook.xml.rels"];
                rels.insert(rels.rfind("</Relationships>"), std::string(65 << 20, ' '));
                return Package({{"xl/_rels/workbook.xml.rels", rels}});
              },
              "'Book.xlsx' is refused: part xl/_rels/workbook.xml.rels is larger than 64 MiB"},
        Limit{"shared_strings_declared",
              [] { return Package({{"xl/sharedStrings.xml", "<sst " + kMain + " uniqueCount=\"20000001\"><si><t>a</t></si></sst>"}}); },
              "'Book.xlsx' is refused: part xl/sharedStrings.xml holds more than the allowed number of shared strings"},
        Limit{"shared_strings_size", [] { return Package({}, {{"xl/sharedStrings.xml", {kGiB + 1, 2 << 20}}}); },
              "'Book.xlsx' is refused: part xl/sharedStrings.xml is larger than 1024 MiB"},
        // A claim within the limits that the file does not keep: no gigabyte is set aside for it.
        // Each part reaching the next: the copy follows them, but not without end.
        Limit{"part_chain",
              [] {
                const std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                         "<Relationship Id=\"rId1\" Type=\"http://example.com/custom\" Target=\"";
                Parts chain = {{"xl/worksheets/_rels/sheet2.xml.rels", rels + "../c/p0.xml\"/></Relationships>"}};
                for (int i = 0; i < 70; ++i) {
                  chain["xl/c/p" + std::to_string(i) + ".xml"] = "<x/>";
                  chain["xl/c/_rels/p" + std::to_string(i) + ".xml.rels"] =
                      rels + "p" + std::to_string(i + 1) + ".xml\"/></Relationships>";
                }
                return Package(chain);
              },
              "'Book.xlsx' is refused: its parts reach one another more than 64 levels deep"},
        Limit{"claimed_size", [] { return Package({}, {{"xl/workbook.xml", {200 << 20, 2 << 20}}}); },
              "'Book.xlsx' is damaged: part xl/workbook.xml cannot be read (Premature end of file)"}),
    [](const testing::TestParamInfo<Limit>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Xml, LimitTest,
    testing::Values(
        Limit{"workbook_depth",
              [] {
                std::string workbook = DefaultParts()["xl/workbook.xml"];
                workbook.insert(workbook.find("<sheets>"), Nested("", 300));
                return Package({{"xl/workbook.xml", workbook}});
              },
              "'Book.xlsx' is refused: part xl/workbook.xml nests elements deeper than 256 levels"},
        Limit{"sheet_depth", [] { return Package({{"xl/worksheets/sheet2.xml", "<worksheet>" + Nested("", 300) + "</worksheet>"}}); },
              "'Book.xlsx': sheet 'Other Sheet' is refused: part xl/worksheets/sheet2.xml nests elements deeper than 256 "
              "levels"},
        Limit{"inline_string_depth",
              [] {
                return Package({{"xl/worksheets/sheet2.xml",
                                 Sheet("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is>" + Nested("<t>a</t>", 300) +
                                       "</is></c></row>")}});
              },
              "'Book.xlsx': sheet 'Other Sheet' is refused: part xl/worksheets/sheet2.xml nests elements deeper than 256 "
              "levels"},
        // What the copy must hold whole is bounded: the rest of a sheet streams.
        Limit{"held_element",
              [] {
                return Package({{"xl/worksheets/sheet2.xml", "<worksheet " + kMain + "><sheetData/><extLst><ext uri=\"{0}\"><x>" +
                                                                 std::string(65 << 20, 'a') + "</x></ext></extLst></worksheet>"}});
              },
              "'Book.xlsx': sheet 'Other Sheet' is refused: part xl/worksheets/sheet2.xml holds an element larger than 64 MiB"},
        Limit{"shared_strings_depth",
              [] { return Package({{"xl/sharedStrings.xml", "<sst " + kMain + "><si>" + Nested("", 300) + "</si></sst>"}}); },
              "'Book.xlsx' is refused: part xl/sharedStrings.xml nests elements deeper than 256 levels"},
        Limit{"shared_strings_entity",
              [] {
                return Package({{"xl/sharedStrings.xml", "<!DOCTYPE sst [<!ENTITY e \"x\">]><sst " + kMain +
                                                             "><si><t>&e;</t></si></sst>"}});
              },
              "'Book.xlsx' is refused: part xl/sharedStrings.xml declares a document type (entities are not allowed)"},
        Limit{"relationships_entity",
              [] {
                return Package({{"xl/_rels/workbook.xml.rels",
                                 "<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><Relationships>&e;</Relationships>"}});
              },
              "'Book.xlsx' is refused: part xl/_rels/workbook.xml.rels declares a document type (entities are "
              "not allowed)"}),
    [](const testing::TestParamInfo<Limit>& info) { return std::string(info.param.name); });

const Limit kGridLimits[] = {
    Limit{"column", [] { return Package({{"xl/worksheets/sheet2.xml", Sheet("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>")}}); },
          "'Book.xlsx': sheet 'Other Sheet': cell XFE1 lies outside the grid of 1048576 rows and 16384 columns"},
    Limit{"row", [] { return Package({{"xl/worksheets/sheet2.xml", Sheet("<row r=\"1\"/><row r=\"1048577\"><c r=\"A1048577\"/></row>")}}); },
          "'Book.xlsx': sheet 'Other Sheet': row 1048577 lies outside the grid of 1048576 rows and 16384 columns"},
    Limit{"cell_below_its_row", [] { return Package({{"xl/worksheets/sheet2.xml", Sheet("<row r=\"9\"><c r=\"A1048577\"/></row>")}}); },
          "'Book.xlsx': sheet 'Other Sheet': cell A1048577 lies outside the grid of 1048576 rows and 16384 columns"},
    Limit{"empty_row_read_by_expat",
          [] { return Package({{"xl/worksheets/sheet2.xml", Sheet("<!-- --><row r=\"99999999999999999999\"/>")}}); },
          "'Book.xlsx': sheet 'Other Sheet': row 99999999999999999999 lies outside the grid of 1048576 rows and 16384 columns"},
    Limit{"row_zero", [] { return Package({{"xl/worksheets/sheet2.xml", Sheet("<row><c r=\"B0\" t=\"s\"><v>0</v></c></row>")}}); },
          "'Book.xlsx': sheet 'Other Sheet': cell B0 lies outside the grid of 1048576 rows and 16384 columns"},
    // A comment hands the rows to expat: the same check there.
    Limit{"column_read_by_expat",
          [] { return Package({{"xl/worksheets/sheet2.xml", Sheet("<!-- --><row r=\"1\"><c r=\"AAAAAAAAAAAAAAAAAAAAA1\"><f>1</f></c></row>")}}); },
          "'Book.xlsx': sheet 'Other Sheet': cell AAAAAAAAAAAAAAAAAAAAA1 lies outside the grid of 1048576 rows and "
          "16384 columns"}};

INSTANTIATE_TEST_SUITE_P(
    Grid, LimitTest, testing::ValuesIn(kGridLimits),
    [](const testing::TestParamInfo<Limit>& info) { return std::string(info.param.name); });

// Packages that readers would see differently are refused rather than guessed at.
std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (const char c : ascii) out += std::string{c, '\0'};
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Ambiguous, LimitTest,
    testing::Values(
        Limit{"part_twice", [] { return Package({{"XL/worksheets/sheet1.xml", Sheet("")}}); },
              "'Book.xlsx' is damaged: it holds the part xl/worksheets/sheet1.xml twice, and readers disagree on which "
              "one counts"},
        Limit{"utf16_doctype",
              [] {
                return Package({{"xl/_rels/workbook.xml.rels",
                                 Utf16Le("<?xml version=\"1.0\" encoding=\"UTF-16\"?><!DOCTYPE r []><Relationships "
                                         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>")}});
              },
              "'Book.xlsx' is refused: part xl/_rels/workbook.xml.rels declares a document type (entities are not "
              "allowed)"},
        // Readers that walk the local headers would take sheet2.xml for another part.
        Limit{"local_name",
              [] {
                std::string bytes = Package({});
                const std::string name = "xl/worksheets/sheet2.xml";
                std::size_t at = bytes.find(name);
                while (bytes.compare(at - 30, 4, "PK\x03\x04") != 0) at = bytes.find(name, at + 1);
                return bytes.replace(at, name.size(), "xl/worksheets/sheet9.xml");
              },
              "'Book.xlsx' is damaged: the part xl/worksheets/sheet2.xml is named xl/worksheets/sheet9.xml in its "
              "local header, and readers disagree on which name counts"},
        Limit{"climbing_backslash", [] { return Package({{"xl/media/..\\..\\ZIPSLIP.png", "x"}}); },
              "'Book.xlsx' is refused: its part name 'xl/media/..\\..\\ZIPSLIP.png' climbs out of the package"}),
    [](const testing::TestParamInfo<Limit>& info) { return std::string(info.param.name); });

// A package of a format it only resembles is named for what it is.
INSTANTIATE_TEST_SUITE_P(
    Format, LimitTest,
    testing::Values(Limit{"prerelease_2006",
                          [] {
                            Parts parts;
                            for (const char* part : {"xl/workbook.xml", "xl/sharedStrings.xml", "xl/worksheets/sheet1.xml",
                                                     "xl/worksheets/sheet2.xml"}) {
                              std::string bytes = DefaultParts()[part];
                              const std::string released = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
                              bytes.replace(bytes.find(released), released.size(), "http://schemas.microsoft.com/office/excel/2006/2");
                              parts[part] = bytes;
                            }
                            std::string& strings = parts["xl/sharedStrings.xml"];
                            for (std::size_t at; (at = strings.find("<si>")) != std::string::npos;) strings.replace(at, 4, "<sstItem>");
                            for (std::size_t at; (at = strings.find("</si>")) != std::string::npos;) strings.replace(at, 5, "</sstItem>");
                            return Package(parts);
                          },
                          "'Book.xlsx' is a workbook in the pre-release format of Excel 2007 (namespace "
                          "http://schemas.microsoft.com/office/excel/2006/2), which cannot be split"}),
    [](const testing::TestParamInfo<Limit>& info) { return std::string(info.param.name); });

// A sheet listed with an empty relationship id, or none (left by an old macro module), has no
// part: it is not a worksheet, and the worksheets around it split.
TEST(SheetListTest, AnEntryWithoutRelationshipIdIsNoWorksheet) {
  for (const char* entry : {"<sheet name=\"Module\" sheetId=\"3\" r:id=\"\"/>", "<sheet name=\"Module\" sheetId=\"3\"/>"}) {
    std::string workbook = DefaultParts()["xl/workbook.xml"];
    workbook.insert(workbook.find("</sheets>"), entry);
    const SplitResult result = SplitBytes(Package({{"xl/workbook.xml", workbook}}));
    EXPECT_TRUE(result.errors.empty()) << entry << testing::PrintToString(result.errors);
    EXPECT_EQ(result.outputs, (std::set<std::string>{"Data.xlsx", "Other Sheet.xlsx"})) << entry;
  }
}

// Cells at the grid's far edges are the grid's own.
TEST(GridTest, KeepsTheLastRowAndColumn) {
  const SplitResult result = SplitBytes(Package(
      {{"xl/worksheets/sheet2.xml", Sheet("<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c><c r=\"$A$1\"/></row>")}}));
  EXPECT_TRUE(result.errors.empty()) << testing::PrintToString(result.errors);
  EXPECT_EQ(result.outputs, (std::set<std::string>{"Data.xlsx", "Other Sheet.xlsx"}));
}

// The CSV text reads the cells through the same scanner: what the copy refuses, it refuses
// with the same words, rather than writing rows and columns the grid does not have.
TEST(GridTest, CsvRefusesWhatTheCopyRefuses) {
  for (const Limit& limit : kGridLimits) {
    Sandbox sandbox;
    WriteFile(sandbox.Input("Book.xlsx"), limit.bytes());
    auto app = automation::CreateObject("Excel.Application");
    automation::Workbook& book = app->Workbooks().Open(sandbox.Input("Book.xlsx"));
    try {
      WriteSheetFile(*app, book.Worksheets()(2), sandbox.Out(), "Other.csv", "Other", Placement::kReplace,
                     OutputFormat::kCsv);
      ADD_FAILURE() << limit.name << ": written";
    } catch (const automation::AutomationError& error) {
      EXPECT_EQ(error.Description(), limit.error) << limit.name;
    }
    app->Quit();
    EXPECT_FALSE(std::filesystem::exists(sandbox.Out() + "/Other.csv")) << limit.name;
  }
}

// Sheet names come from the file: none may lead the output out of its folder, and each
// that cannot be a file name fails its own sheet only.
TEST(OutputPathTest, NoSheetNameLeavesTheOutputFolder) {
  const std::vector<std::string> names = {"../../escape", "..", "/abs", "sub/x", "a\\b", ".", "ok", "..\\up",
                                          "../", "x/../../y", "\xE2\x80\xAE../z"};
  std::string sheets, relationships;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    std::string escaped;
    for (const char c : names[i]) escaped += c == '"' ? std::string("&quot;") : std::string(1, c);
    sheets += "<sheet name=\"" + escaped + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    relationships += "<Relationship Id=\"rId" + n +
                     "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
                     "Target=\"worksheets/sheet1.xml\"/>";
  }
  Parts changes = {
      {"xl/workbook.xml", "<workbook " + kMain +
                              " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>" +
                              sheets + "</sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + relationships +
           "</Relationships>"},
      {"xl/worksheets/sheet1.xml", Sheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")}};
  const SplitResult result = SplitBytes(Package(changes));  // checks the confinement
  // ".." and "." are sheet names like any other: their files "...xlsx" and "..xlsx" lie in
  // the folder. A name with "/" reaches a subfolder only if it exists, and never climbs.
  EXPECT_EQ(result.outputs, (std::set<std::string>{"...xlsx", "..xlsx", "ok.xlsx"}));
  EXPECT_EQ(result.errors.size(), names.size() - 3) << testing::PrintToString(result.errors);
}

// A sheet's relationship to another sheet's part, or to the workbook's own parts, carries
// nothing of them, whatever kind of link it claims to be.
TEST(OutputPathTest, ALinkToAnotherSheetsPartCarriesNothingOfIt) {
  const std::string rels = "http://schemas.openxmlformats.org/package/2006/relationships";
  std::string links;
  int id = 0;
  for (const char* target : {"sheet2.xml", "/xl/workbook.xml", "../sharedStrings.xml"})
    links += "<Relationship Id=\"rId" + std::to_string(++id) + "\" Type=\"http://example.com/attachment\" Target=\"" +
             target + "\"/>";
  Sandbox sandbox;
  WriteFile(sandbox.Input("Book.xlsx"),
            Package({{"xl/worksheets/_rels/sheet1.xml.rels", "<Relationships xmlns=\"" + rels + "\">" + links + "</Relationships>"},
                     {"xl/worksheets/sheet2.xml", Sheet("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>secret</t></is></c></row>")}}));
  const SplitResult result = SplitEverySheet(sandbox, "Book.xlsx", false);
  ASSERT_EQ(result.problem, "");
  ASSERT_TRUE(result.outputs.count("Data.xlsx"));
  spreadsheet::ZipReader output(sandbox.Out() + "/Data.xlsx");
  std::vector<std::string> names;
  for (std::uint64_t i = 0; i < output.EntryCount(); ++i) names.push_back(output.EntryName(i));
  for (const std::string& name : names) {
    EXPECT_NE(name, "xl/worksheets/sheet2.xml");
    EXPECT_EQ(name.find("workbook1"), std::string::npos) << name;
    EXPECT_EQ(name.find("sharedStrings1"), std::string::npos) << name;
  }
  EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind("xl/worksheets/sheet", 0) == 0; }), 1)
      << testing::PrintToString(names);
}

// Every input a fuzzer once broke the engine with: it now fails with its error, or splits.
struct Regression {
  const char* file;   // under tests/spreadsheet/regressions/
  const char* error;  // "" when every sheet splits
};

void PrintTo(const Regression& row, std::ostream* out) { *out << row.file; }

class RegressionTest : public testing::TestWithParam<Regression> {};

std::string RegressionsDir() { return std::string(TABREND_SOURCE_DIR) + "/tests/spreadsheet/regressions/"; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_P(RegressionTest, FailsCleanlyOrSplits) {
  const std::string file = GetParam().file;
  const std::string bytes = ReadAll(RegressionsDir() + file);
  ASSERT_FALSE(bytes.empty()) << file;
  Sandbox sandbox;
  // parts/: texts of parts (fuzz_parts); package/: whole files (fuzz_open, fuzz_split).
  if (file.rfind("parts/", 0) == 0) ASSERT_TRUE(WritePackage(ParseParts(bytes), sandbox.Input("Book.xlsx")));
  else WriteFile(sandbox.Input("Book.xlsx"), bytes);
  const SplitResult result = SplitEverySheet(sandbox, "Book.xlsx");
  EXPECT_EQ(result.problem, "");
  if (std::string(GetParam().error).empty()) {
    EXPECT_TRUE(result.errors.empty()) << testing::PrintToString(result.errors);
  } else {
    EXPECT_NE(std::find(result.errors.begin(), result.errors.end(), GetParam().error), result.errors.end())
        << testing::PrintToString(result.errors);
  }
}

const Regression kRegressions[] = {
    {"parts/invalid_utf8_in_workbook_attribute.txt",
     "'Book.xlsx': part xl/workbook.xml is not well-formed XML (it holds a character XML does not allow)"},
    {"parts/invalid_utf8_in_fast_row.txt",
     "'Book.xlsx': sheet 'Other Sheet': part xl/worksheets/sheet2.xml is not well-formed XML (line 1: not well-formed "
     "(invalid token))"},
    {"parts/repeated_cell_attribute.txt",
     "'Book.xlsx': sheet 'Other Sheet': part xl/worksheets/sheet2.xml is not well-formed XML (line 1: duplicate "
     "attribute)"},
    {"parts/attributes_without_blank.txt",
     "'Book.xlsx': sheet 'Other Sheet': part xl/worksheets/sheet2.xml is not well-formed XML (line 1: not well-formed "
     "(invalid token))"},
    {"parts/cell_outside_grid.txt",
     "'Book.xlsx': sheet 'Other Sheet': cell XFE1 lies outside the grid of 1048576 rows and 16384 columns"},
    {"parts/sheet_linked_to_another_sheets_part.txt",
     "'Book.xlsx': sheet 'Other Sheet': part xl/worksheets/sheet2.xml is not well-formed XML (line 1: mismatched "
     "tag)"},
};

INSTANTIATE_TEST_SUITE_P(Found, RegressionTest, testing::ValuesIn(kRegressions),
                         [](const testing::TestParamInfo<Regression>& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// A regression input added without its row here would never be checked.
TEST(RegressionListTest, EveryInputHasItsRow) {
  std::set<std::string> listed;
  for (const Regression& regression : kRegressions) listed.insert(regression.file);
  for (const auto& entry : fs::recursive_directory_iterator(RegressionsDir())) {
    if (!entry.is_regular_file()) continue;
    const std::string file = fs::relative(entry.path(), RegressionsDir()).string();
    if (file.rfind("formula/", 0) == 0) continue;  // formulas, not workbooks: FormulaTest reads them
    EXPECT_TRUE(listed.count(file)) << file << " has no row in kRegressions";
  }
}

}  // namespace
}  // namespace tabrend::fuzz
