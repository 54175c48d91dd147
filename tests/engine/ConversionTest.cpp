// Workbooks opened through LibreOffice's conversion: .xls, .xlsb and .ods sources split by
// tabrendcli and through the automation objects, compared cell by cell with the source as
// LibreOffice shows it; LibreOffice missing, hanging or interrupted; password-protected and
// damaged files. Every LibreOffice start costs seconds, so each test batches its own.
#include "engine/Conversion.h"

#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "engine/Automation.h"
#include "engine/LibreOffice.h"
#include "engine/SheetOutput.h"
#include "spreadsheet/FileFormat.h"
#include "tests/engine/TestWorkbooks.h"

extern char** environ;

namespace tabrend::automation {
namespace {

namespace fs = std::filesystem;
using spreadsheet::FileFormat;
using test::Listing;
using test::ReadFile;
using test::ScopedVariable;
using test::TempDir;
using test::WriteFile;
using Names = std::vector<std::string>;

constexpr char kCsvFilter[] = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1";
const std::map<std::string, Names> kSheets{
    {"xls", {"Prices", "Notes", "Third"}}, {"xlsb", {"Stock", "Memo"}}, {"ods", {"Prices", "Notes", "Third"}}};

// Starts argv[0] (looked up on PATH) with extra environment entries ("NAME=value" replaces
// NAME), standard input empty, standard error to errPath; default signal dispositions.
pid_t Start(const Names& args, const Names& environmentChanges, const std::string& errPath = "/dev/null") {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const auto& change : environmentChanges)
      replaced |= text.rfind(change.substr(0, change.find('=') + 1), 0) == 0;
    if (!replaced) environment.push_back(text);
  }
  environment.insert(environment.end(), environmentChanges.begin(), environmentChanges.end());
  std::vector<char*> argv, envp;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    for (int number : {SIGINT, SIGTERM, SIGHUP}) ::signal(number, SIG_DFL);
    const int input = ::open("/dev/null", O_RDONLY);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(input, STDIN_FILENO);
    ::dup2(err, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return child;
}

// The wait status, or nullopt when the child was killed at the time limit.
std::optional<int> Finish(pid_t child, std::chrono::seconds limit = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

struct Finished {
  int status = -1;  // exit status; -1 when the program did not exit by itself
  std::string err;
};

Finished RunAndWait(const Names& args, const Names& environmentChanges) {
  TempDir streams;
  const std::string err = streams / "err";
  const auto status = Finish(Start(args, environmentChanges, err));
  return {status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1, ReadFile(err)};
}

// Dead, or a zombie nobody reaps (the container's first process may not).
// Whether the process has ended (or is a zombie). A killed process takes a moment to
// end, longer on a loaded machine: it has 5 seconds.
bool Gone(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z")) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// CSV text with every unquoted TRUE or FALSE field written 1 or 0.
std::string BooleansAsNumbers(const std::string& csv) {
  std::string out;
  std::size_t start = 0;
  while (start <= csv.size()) {
    const std::size_t end = std::min(csv.find_first_of(",\n", start), csv.size());
    const std::string field = csv.substr(start, end - start);
    out += field == "TRUE" ? "1" : field == "FALSE" ? "0" : field;
    if (end < csv.size()) out += csv[end];
    start = end + 1;
  }
  return out;
}

// Standard error of a verbose run without the loss lines under each workbook.
std::string WorkbookLines(const std::string& err) {
  std::istringstream lines(err);
  std::string kept;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("  ", 0) != 0) kept += line + "\n";
  return kept;
}

// A LibreOffice of the test's own, with its own profile, for making fixtures and reading
// outputs: the converter under test is not its own witness.
class Witness {
 public:
  explicit Witness(std::string profile) : profile_(std::move(profile)) {}
  bool Run(const Names& args) const {
    Names full{"soffice", "-env:UserInstallation=file://" + profile_, "--headless", "--norestore"};
    full.insert(full.end(), args.begin(), args.end());
    const auto status = Finish(Start(full, {}), std::chrono::seconds(180));
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }
  const std::string& Profile() const { return profile_; }

  // Every sheet of every file as LibreOffice shows it, converted in one start: the CSV of
  // sheet S of the file linked as NAME.ext is "NAME-S.csv".
  std::map<std::string, std::string> Csv(const std::map<std::string, std::string>& links) const {
    TempDir work;
    for (const auto& [name, target] : links) fs::create_symlink(target, work.path() / name);
    Names args{"--convert-to", kCsvFilter, "--outdir", work / "csv"};
    for (const auto& link : links) args.push_back(work / link.first);
    EXPECT_TRUE(Run(args)) << "LibreOffice failed to write CSV";
    std::map<std::string, std::string> sheets;
    if (fs::exists(work.path() / "csv"))
      for (const auto& entry : fs::directory_iterator(work.path() / "csv"))
        sheets[entry.path().filename().string()] = ReadFile(entry.path());
    return sheets;
  }

 private:
  std::string profile_;
};

constexpr char kSourceWriter[] = R"(import sys, datetime, xlsxwriter
path = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
book = xlsxwriter.Workbook(path)
bold = book.add_format({'bold': True})
money = book.add_format({'num_format': '#,##0.00'})
day = book.add_format({'num_format': 'yyyy-mm-dd'})
prices = book.add_worksheet('Prices')
prices.write_row(0, 0, ['Item', 'Price', 'Day', 'Stock'], bold)
prices.write_row(1, 0, ['Äpfel "rot"', 2.5]); prices.write_datetime(1, 2, datetime.date(2024, 2, 29), day)
prices.write_boolean(1, 3, True); prices.set_row(1, None, None); prices.write_number(1, 1, 2.5, money)
prices.write(2, 0, 'Pears, green'); prices.write_number(2, 1, 1234567.125, money)
prices.write_datetime(2, 2, datetime.date(1999, 12, 31), day); prices.write_boolean(2, 3, False)
prices.write_formula(3, 1, '=SUM(B2:B3)', money, 1234569.625)
prices.merge_range('A6:C6', 'merged note')
notes = book.add_worksheet('Notes')
notes.write('A1', 'see Prices'); notes.write_formula('B1', '=Prices!B4', None, 1234569.625)
notes.write('A2', 'x;y'); notes.write_number('A3', 42); notes.write('C5', 'Grüße ☃')
book.add_worksheet('Third').write('D4', -0.001)
book.close()
)";

// A minimal binary workbook, record by record: LibreOffice reads .xlsb but cannot write it.
constexpr char kBinaryWriter[] = R"(import struct, sys, zipfile
path = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
def number(value):
    out = bytearray()
    while True:
        low = value & 0x7F; value >>= 7
        out.append(low | (0x80 if value else 0))
        if not value: return bytes(out)
def rec(kind, body=b''): return number(kind) + number(len(body)) + body
def wide(text):
    data = text.encode('utf-16-le'); return struct.pack('<I', len(data) // 2) + data
def sheet(rows):
    parts = [rec(129), rec(145)]
    for r, row in enumerate(rows):
        parts.append(rec(0, struct.pack('<IIHBBBI', r, 0, 300, 0, 0, 0, 0)))
        for c, value in enumerate(row):
            cell = struct.pack('<II', c, 0)
            if value is None: continue
            if isinstance(value, bool): parts.append(rec(4, cell + bytes([value])))
            elif isinstance(value, float): parts.append(rec(5, cell + struct.pack('<d', value)))
            else: parts.append(rec(6, cell + wide(value)))
    return b''.join(parts + [rec(146), rec(130)])
sheets = [('Stock', [['Item', 'Price', 'Stock'], ['Äpfel "rot"', 2.5, True], ['Pears, green', 1234567.125, False]]),
          ('Memo', [[None, 'a;b'], [42.0]])]
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
book = [rec(131), rec(143)]
links = ''
for i, (name, rows) in enumerate(sheets, 1):
    book.append(rec(156, struct.pack('<II', 0, i) + wide('rId%d' % i) + wide(name)))
    links += '<Relationship Id="rId%d" Type="%sworksheet" Target="worksheets/sheet%d.bin"/>' % (i, rel, i)
book += [rec(144), rec(132)]
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="bin" ContentType="application/vnd.ms-excel.sheet.binary.macroEnabled.main"/>'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               + ''.join('<Override PartName="/xl/worksheets/sheet%d.bin" ContentType="application/vnd.ms-excel.worksheet"/>' % i
                         for i in range(1, len(sheets) + 1)) + '</Types>')
    z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="rId1" Type="%sofficeDocument" Target="xl/workbook.bin"/></Relationships>' % rel)
    z.writestr('xl/workbook.bin', b''.join(book))
    z.writestr('xl/_rels/workbook.bin.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               + links + '</Relationships>')
    for i, (name, rows) in enumerate(sheets, 1):
        z.writestr('xl/worksheets/sheet%d.bin' % i, sheet(rows))
)";

// Compound files made byte by byte: an encrypted package (which LibreOffice cannot write
// headless) and two BIFF streams small enough for the mini stream, one declaring a password.
constexpr char kCompoundWriter[] = R"(import struct, sys
folder = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
FREE, END, FATSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
def compound(path, streams):
    """A version 3 compound file holding the given (name, bytes) streams under its root; streams
    under 4096 bytes go to the mini stream, as the format wants."""
    mini, regular, entries = b'', [], []
    for name, data in streams:
        if len(data) < 4096:
            start = len(mini) // 64
            mini += data + b'\0' * (-len(data) % 64)
            entries.append((name, 'mini', start, len(data)))
        else:
            regular.append(data)
            entries.append((name, 'regular', len(regular) - 1, len(data)))
    minifat = []
    for name, kind, start, size in entries:
        if kind == 'mini':
            n = (size + 63) // 64
            minifat += [start + i + 1 for i in range(n - 1)] + [END]
    blobs = [mini, struct.pack('<%dI' % len(minifat), *minifat)] + regular  # sectors after FAT and directory
    sectors, starts = 2, []
    for blob in blobs:
        starts.append(sectors if blob else END)
        sectors += (len(blob) + 511) // 512
    fat = [FATSECT, END]
    for blob in blobs:
        n = (len(blob) + 511) // 512
        fat += [len(fat) + i + 1 for i in range(n - 1)] + ([END] if n else [])
    assert len(fat) <= 128
    fat += [FREE] * (128 - len(fat))
    def entry(name, kind, left, right, child, start, size):
        raw = name.encode('utf-16-le') + b'\0\0' if name else b''
        return (raw.ljust(64, b'\0') + struct.pack('<HBBIII', len(raw), kind, 1, left, right, child) + b'\0' * 20
                + struct.pack('<II', 0, 0) * 2 + struct.pack('<IQ', start, size))
    directory = entry('Root Entry', 5, FREE, FREE, 1 if entries else FREE, starts[0], len(mini))
    for i, (name, kind, start, size) in enumerate(entries, 1):
        first = start if kind == 'mini' else starts[2 + start]
        directory += entry(name, 2, FREE, i + 1 if i < len(entries) else FREE, FREE, first, size)
    directory = directory.ljust(512, b'\0')
    header = (b'\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1' + b'\0' * 16 + struct.pack('<HHHHH', 0x3E, 3, 0xFFFE, 9, 6) + b'\0' * 6
              + struct.pack('<IIIIIIIII', 0, 1, 1, 0, 4096, starts[1] if minifat else END, (len(minifat) * 4 + 511) // 512, END, 0)
              + struct.pack('<I', 0) + struct.pack('<108I', *[FREE] * 108))
    body = b''.join(blob + b'\0' * (-len(blob) % 512) for blob in blobs)
    open(path, 'wb').write(header + struct.pack('<128I', *fat) + directory + body)
def biff(*records): return b''.join(struct.pack('<HH', kind, len(data)) + data for kind, data in records)
bof = (0x0809, struct.pack('<HHHHII', 0x0600, 5, 0, 1997, 0, 6))
compound(folder + '/Encrypted.xlsx', [('EncryptionInfo', b'\4\0\4\0' + b'\0' * 200), ('EncryptedPackage', b'\1' * 5000)])
compound(folder + '/Tiny.xls', [('Workbook', biff(bof, (0x002F, b'\1\0' + b'\0' * 52), (0x000A, b'')))])
compound(folder + '/Plain.xls', [('Workbook', biff(bof, (0x0085, b'\0' * 12), (0x000A, b'')))])
)";

// LibreOffice Basic: saves the source in the formats --convert-to cannot make (password
// protected ones) and as .xls, all in the start that runs it.
std::string FixtureMacro(const std::string& folder) {
  const auto save = [&](const std::string& file, const std::string& filter, const std::string& password) {
    return "  Save(doc, &quot;" + folder + "/" + file + "&quot;, &quot;" + filter + "&quot;, &quot;" + password +
           "&quot;)\n";
  };
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE script:module PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "module.dtd">
<script:module xmlns:script="http://openoffice.org/2000/script" script:name="Module1" script:language="StarBasic">
Sub Save(doc, path, filter, password)
  Dim props(1) As New com.sun.star.beans.PropertyValue
  props(0).Name = &quot;FilterName&quot; : props(0).Value = filter
  props(1).Name = &quot;Password&quot; : props(1).Value = password
  If password = &quot;&quot; Then props(1).Name = &quot;Overwrite&quot; : props(1).Value = True
  doc.storeToURL(ConvertToURL(path), props())
End Sub
Sub Main
  Dim load(0) As New com.sun.star.beans.PropertyValue
  load(0).Name = &quot;Hidden&quot; : load(0).Value = True
  doc = StarDesktop.loadComponentFromURL(ConvertToURL(&quot;)" +
         folder + R"(/Sales.xlsx&quot;), &quot;_blank&quot;, 0, load())
)" + save("Sales.xls", "MS Excel 97", "") +
         save("Locked.xls", "MS Excel 97", "secret") + save("Locked.ods", "calc8", "secret") + R"(  doc.close(True)
  StarDesktop.terminate()
End Sub
</script:module>
)";
}

// Makes the fixtures in folder; returns what went wrong, or "".
std::string MakeFixtures(const std::string& folder) {
  const auto path = [&](const char* name) { return folder + "/" + name; };
  test::RunPython(kSourceWriter, {path("Sales.xlsx")});
  test::RunPython(kBinaryWriter, {path("Binary.xlsb")});
  test::RunPython(kCompoundWriter, {folder});
  const Witness maker(path("profile"));
  // The first start makes the profile that the second start's macro lives in.
  if (!maker.Run({"--convert-to", "ods", "--outdir", folder, path("Sales.xlsx")}))
    return "LibreOffice did not convert Sales.xlsx";
  WriteFile(maker.Profile() + "/user/basic/Standard/Module1.xba", FixtureMacro(folder));
  if (!maker.Run({"vnd.sun.star.script:Standard.Module1.Main?language=Basic&location=application"}))
    return "LibreOffice did not run the fixture macro";
  fs::remove_all(maker.Profile());
  const std::string xls = ReadFile(path("Sales.xls"));
  WriteFile(path("Broken.xls"), xls.substr(0, xls.size() / 2));
  std::string missing;
  for (const char* made : {"Sales.ods", "Sales.xls", "Locked.xls", "Locked.ods", "Binary.xlsb", "Encrypted.xlsx"})
    if (!fs::exists(path(made))) missing += std::string(made) + " was not made; ";
  return missing;
}

// The fixtures' folder, made once for the build folder and the fixture scripts: ctest runs
// each test in a process of its own, and two LibreOffice starts are worth saving. One
// process makes them while the others wait.
std::string FixtureFolder(std::string& problem) {
  const std::string scripts = std::string(kSourceWriter) + kBinaryWriter + kCompoundWriter + FixtureMacro("");
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%016zx", std::hash<std::string>{}(scripts));
  const fs::path folder = fs::path(TABREND_BINARY_DIR) / "tests" / ("conversion-fixtures-" + std::string(stamp));
  fs::create_directories(folder.parent_path());
  const int lock = ::open((folder.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ::flock(lock, LOCK_EX);
  if (!fs::exists(folder)) {
    const fs::path making = folder.string() + ".making";
    fs::remove_all(making);
    fs::create_directories(making);
    problem = MakeFixtures(making.string());
    if (problem.empty()) fs::rename(making, folder);
  }
  ::flock(lock, LOCK_UN);
  ::close(lock);
  return folder.string();
}

class ConversionTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new TempDir;
    witness_ = new Witness(*scratch_ / "profile");
    fixtures_ = FixtureFolder(setupProblem_);
  }
  static void TearDownTestSuite() {
    delete witness_;
    delete scratch_;
  }
  void SetUp() override { ASSERT_EQ(setupProblem_, ""); }

  static std::string Fixture(const std::string& name) { return fixtures_ + "/" + name; }
  std::string Path(const std::string& relative) const { return dir_ / relative; }
  void Place(const std::string& fixture, const std::string& relative) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    fs::copy_file(Fixture(fixture), Path(relative));
  }
  // A folder standing for TMPDIR, checked empty at the end of the test.
  std::string Tmp() const {
    fs::create_directories(Path("tmp"));
    return Path("tmp");
  }
  void TearDown() override {
    if (fs::exists(Path("tmp"))) {
      EXPECT_EQ(Listing(Path("tmp")), Names{}) << "temporary files left behind";
    }
  }

  // Compares every output sheet with the same sheet of its source, both read by LibreOffice.
  void ExpectSameCells(const std::map<std::string, std::string>& sources,
                       const std::map<std::string, std::string>& outputFolders) const {
    std::map<std::string, std::string> links;
    for (const auto& [kind, source] : sources) {
      links["src-" + kind + "." + kind] = source;
      for (const auto& sheet : kSheets.at(kind))
        links["out-" + kind + "-" + sheet + ".xlsx"] = outputFolders.at(kind) + "/" + sheet + ".xlsx";
    }
    const auto csv = witness_->Csv(links);
    for (const auto& [kind, source] : sources) {
      for (const auto& sheet : kSheets.at(kind)) {
        const auto expected = csv.find("src-" + kind + "-" + sheet + ".csv");
        const auto actual = csv.find("out-" + kind + "-" + sheet + "-" + sheet + ".csv");
        if (expected == csv.end() || actual == csv.end()) {
          ADD_FAILURE() << "no CSV for " << kind << " sheet " << sheet;
          continue;
        }
        EXPECT_NE(expected->second, "") << kind << " " << sheet;
        // LibreOffice shows a boolean it reads from .xls as 1 or 0, and the same cell as TRUE or
        // FALSE once its own import has written it to .xlsx: the import's matter, not the split's.
        EXPECT_EQ(kind == "xls" ? BooleansAsNumbers(actual->second) : actual->second, expected->second)
            << kind << " " << sheet;
      }
    }
  }

  static inline TempDir* scratch_ = nullptr;  // the witness's profile
  static inline Witness* witness_ = nullptr;
  static inline std::string fixtures_;
  static inline std::string setupProblem_;
  TempDir dir_;
};

TEST_F(ConversionTest, FormatsAreToldByContent) {
  struct Case {
    const char* fixture;
    const char* disguise;  // the name it is given: the extension must not matter
    FileFormat format;
    bool password;
  };
  for (const Case& c : {Case{"Sales.xls", "a.xlsx", FileFormat::kExcel97, false},
                        Case{"Locked.xls", "b.xls", FileFormat::kExcel97, true},
                        Case{"Broken.xls", "c.xls", FileFormat::kExcel97, false},
                        Case{"Binary.xlsb", "d.xlsx", FileFormat::kBinaryPackage, false},
                        Case{"Sales.ods", "e.xls", FileFormat::kOpenDocument, false},
                        Case{"Locked.ods", "f.ods", FileFormat::kOpenDocument, true},
                        Case{"Sales.xlsx", "g.xls", FileFormat::kOther, false},
                        Case{"Encrypted.xlsx", "h.xlsx", FileFormat::kEncryptedPackage, false},
                        Case{"Tiny.xls", "i.xls", FileFormat::kExcel97, true},
                        Case{"Plain.xls", "j.xls", FileFormat::kExcel97, false}}) {
    Place(c.fixture, c.disguise);
    EXPECT_EQ(spreadsheet::DetectFileFormat(Path(c.disguise)), c.format) << c.fixture;
    EXPECT_EQ(spreadsheet::NeedsPassword(Path(c.disguise)), c.password) << c.fixture;
  }
  fs::remove(Path("a.xlsx"));
  Place("Sales.xlsx", "a.xlsx");  // another file under a name already looked at
  EXPECT_EQ(spreadsheet::DetectFileFormat(Path("a.xlsx")), FileFormat::kOther);
  EXPECT_TRUE(spreadsheet::CompoundHasStream(Path("h.xlsx"), "encryptedpackage"));
  EXPECT_FALSE(spreadsheet::CompoundHasStream(Path("a.xlsx"), "EncryptedPackage"));
}

TEST_F(ConversionTest, TabrendcliSplitsConvertedSourcesLikeAnyWorkbook) {
  Place("Sales.xls", "in/Sales.xls");
  Place("Binary.xlsb", "in/Binary.xlsb");
  Place("Sales.xlsx", "in/Plain.xlsx");
  Place("Sales.ods", "single/Sales.ods");
  const auto before = fs::last_write_time(Path("in/Sales.xls"));
  const Names environment{"TMPDIR=" + Tmp()};
  fs::create_directory(Path("out"));

  const Finished folder = RunAndWait({TABREND_CLI, Path("in"), Path("out"), "/verbose=1"}, environment);
  EXPECT_EQ(folder.status, 0) << folder.err;
  const Finished single = RunAndWait({TABREND_CLI, Path("single/Sales.ods"), Path("ods"), "/verbose=1"}, environment);
  EXPECT_EQ(single.status, 0) << single.err;

  EXPECT_EQ(Listing(Path("out")), (Names{"Binary", "Plain", "Sales"}));
  EXPECT_EQ(Listing(Path("out/Sales")), (Names{"Notes.xlsx", "Prices.xlsx", "Third.xlsx"}));
  EXPECT_EQ(Listing(Path("out/Binary")), (Names{"Memo.xlsx", "Stock.xlsx"}));
  EXPECT_EQ(Listing(Path("ods")), (Names{"Notes.xlsx", "Prices.xlsx", "Third.xlsx"}));
  // The sources are untouched and nothing (no lock file) appeared beside them.
  EXPECT_EQ(ReadFile(Path("in/Sales.xls")), ReadFile(Fixture("Sales.xls")));
  EXPECT_EQ(fs::last_write_time(Path("in/Sales.xls")), before);
  EXPECT_EQ(Listing(Path("in")), (Names{"Binary.xlsb", "Plain.xlsx", "Sales.xls"}));
  EXPECT_EQ(Listing(Path("single")), Names{"Sales.ods"});

  ExpectSameCells({{"xls", Path("in/Sales.xls")}, {"xlsb", Path("in/Binary.xlsb")}, {"ods", Path("single/Sales.ods")}},
                  {{"xls", Path("out/Sales")}, {"xlsb", Path("out/Binary")}, {"ods", Path("ods")}});
}

// Regular files under the test's TMPDIR: the converted copies alive.
std::size_t CopiesUnder(const std::string& folder) {
  std::size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) count += entry.is_regular_file();
  return count;
}

TEST_F(ConversionTest, AutomationTakesPrefetchedCopiesOnceAndEveryEndRemovesThem) {
  Place("Sales.xls", "in/Sales.xls");
  Place("Binary.xlsb", "in/Binary.xlsb");
  Place("Sales.ods", "in/Sales.ods");
  Place("Sales.xls", "in/Changed.xls");
  const std::map<std::string, std::string> sources{
      {"xls", Path("in/Sales.xls")}, {"xlsb", Path("in/Binary.xlsb")}, {"ods", Path("in/Sales.ods")}};
  const auto split = [&](Application& app, Workbook& book, const std::string& kind) {
    Names names;
    fs::create_directories(Path(kind));
    for (long i = 1; i <= book.Worksheets().Count(); ++i) {
      Sheet& sheet = book.Worksheets()(i);
      names.push_back(sheet.name());
      WriteSheetFile(app, sheet, Path(kind), sheet.name() + ".xlsx", sheet.name());
    }
    EXPECT_EQ(names, kSheets.at(kind));
  };
  {
    ScopedVariable tmp("TMPDIR", Tmp());
    PrefetchConversions({sources.at("xls"), sources.at("xlsb"), sources.at("ods"), Path("in/Changed.xls"),
                         sources.at("xls"), Path("in/Sales.xlsx")});
    EXPECT_EQ(CopiesUnder(Tmp()), 4u);
    // From here on no LibreOffice can start: an Open that works took a kept copy.
    ScopedVariable path("PATH", Path("nowhere"));
    fs::last_write_time(Path("in/Changed.xls"), fs::last_write_time(Path("in/Changed.xls")) + std::chrono::seconds(5));

    auto app = CreateObject("Excel.Application");
    Workbook& xls = app->Workbooks().Open(sources.at("xls"));
    EXPECT_EQ(xls.Name(), "Sales.xls");
    split(*app, xls, "xls");
    // The source is the user's file, never a save target, though the engine reads a copy.
    EXPECT_THROW(xls.SaveAs(sources.at("xls")), AutomationError);
    Workbook& held = app->Workbooks().Add();
    xls.Worksheets()(2).Copy(held.Worksheets()(1));
    xls.Close();
    EXPECT_EQ(CopiesUnder(Tmp()), 3u) << "Close kept the copy";
    held.SaveAs(Path("held.xlsx"));  // the copied sheet outlives its source's copy
    EXPECT_EQ(test::ReadSheets(Path("held.xlsx")).front(), (std::pair<std::string, std::string>{"Notes", "see Prices"}));

    // Taken once: opening the same file again, or a file changed since, needs LibreOffice.
    for (const std::string name : {"Sales.xls", "Changed.xls"}) {
      try {
        app->Workbooks().Open(Path("in/" + name));
        ADD_FAILURE() << name << " opened without LibreOffice";
      } catch (const AutomationError& error) {
        EXPECT_EQ(error.Number(), 1004);
        EXPECT_EQ(error.Description(),
                  "'" + name + "' needs LibreOffice to be opened: install the Debian package libreoffice-calc-nogui");
      }
    }
    EXPECT_EQ(CopiesUnder(Tmp()), 2u) << "the stale copy of Changed.xls was kept";

    split(*app, app->Workbooks().Open(sources.at("ods")), "ods");
    app->Quit();
    EXPECT_EQ(CopiesUnder(Tmp()), 1u) << "Quit kept the copy";

    auto other = CreateObject("Excel.Application");
    split(*other, other->Workbooks().Open(sources.at("xlsb")), "xlsb");
    other.reset();
  }
  ExpectSameCells(sources, {{"xls", Path("xls")}, {"xlsb", Path("xlsb")}, {"ods", Path("ods")}});
}

TEST_F(ConversionTest, WithoutLibreOfficeConvertedSourcesFailAndTheOthersSplit) {
  Place("Sales.xls", "in/Sales.xls");
  Place("Binary.xlsb", "in/Binary.xlsb");
  Place("Sales.xlsx", "in/Plain.xlsx");
  fs::create_directory(Path("out"));
  const Finished run = RunAndWait({TABREND_CLI, Path("in"), Path("out"), "/verbose=1"},
                                  {"TMPDIR=" + Tmp(), "PATH=" + Path("nowhere")});
  EXPECT_EQ(run.status, 1);
  const std::string missing = " needs LibreOffice to be opened: install the Debian package libreoffice-calc-nogui";
  EXPECT_EQ(WorkbookLines(run.err), Path("in/Binary.xlsb") + ": failed (error 1004): 'Binary.xlsb'" + missing + "\n" +
                         Path("in/Plain.xlsx") + ": wrote Prices.xlsx, Notes.xlsx, Third.xlsx\n" +
                         Path("in/Sales.xls") + ": failed (error 1004): 'Sales.xls'" + missing + "\n");
  EXPECT_EQ(Listing(Path("out/Sales")), Names{});
  EXPECT_EQ(Listing(Path("out/Binary")), Names{});

  // An encrypted package is a compound file too, but it keeps its own description: it is
  // never handed to LibreOffice.
  Place("Encrypted.xlsx", "Locked.xlsx");
  ScopedVariable path("PATH", Path("nowhere"));
  auto app = CreateObject("Excel.Application");
  try {
    app->Workbooks().Open(Path("Locked.xlsx"));
    ADD_FAILURE() << "an encrypted package opened";
  } catch (const AutomationError& error) {
    EXPECT_EQ(error.Description(),
              "'Locked.xlsx' is encrypted with a password; remove the password in the spreadsheet program and try again");
  }
}

TEST_F(ConversionTest, PasswordProtectedAndDamagedFilesFailWithADescriptionAndLeaveNothing) {
  Place("Locked.xls", "in/Locked.xls");
  Place("Broken.xls", "in/Broken.xls");
  Place("Sales.xlsx", "in/Plain.xlsx");
  Place("Locked.ods", "Locked.ods");
  fs::create_directory(Path("out"));
  const Finished run = RunAndWait({TABREND_CLI, Path("in"), Path("out"), "/verbose=1"}, {"TMPDIR=" + Tmp()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(WorkbookLines(run.err), Path("in/Broken.xls") +
                         ": failed (error 1004): 'Broken.xls' could not be opened: LibreOffice converted nothing, so it "
                         "is damaged or is not an Excel 97-2003 workbook (.xls)\n" +
                         Path("in/Locked.xls") +
                         ": failed (error 1004): 'Locked.xls' is protected with a password, so LibreOffice converted "
                         "nothing: remove the password in the spreadsheet program and try again\n" +
                         Path("in/Plain.xlsx") + ": wrote Prices.xlsx, Notes.xlsx, Third.xlsx\n");
  EXPECT_EQ(Listing(Path("out/Locked")), Names{});
  EXPECT_EQ(Listing(Path("out/Broken")), Names{});
  EXPECT_EQ(Listing(Path("in")), (Names{"Broken.xls", "Locked.xls", "Plain.xlsx"}));

  ScopedVariable tmp("TMPDIR", Tmp());
  auto app = CreateObject("Excel.Application");
  try {
    app->Workbooks().Open(Path("Locked.ods"));
    ADD_FAILURE() << "a password-protected spreadsheet opened";
  } catch (const AutomationError& error) {
    EXPECT_EQ(error.Description(), "'Locked.ods' is protected with a password, so LibreOffice converted nothing: "
                                   "remove the password in the spreadsheet program and try again");
  }
  EXPECT_EQ(app->Workbooks().Count(), 0);
}

// Workbooks whose formulas on other sheets were saved without results: by openpyxl, and by
// hand as other writers store them (no <v> at all, a text type with no value, a shared
// formula), beside one written by XlsxWriter whose results are all stored.
constexpr char kResultlessWriter[] = R"(import sys, datetime, zipfile, openpyxl, xlsxwriter
from openpyxl.workbook.defined_name import DefinedName
folder = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
book = openpyxl.Workbook(); data = book.active; data.title = 'Data'
data['A1'] = 21; data['A2'] = 'pear'; data['A3'] = datetime.date(2024, 2, 29); data['A4'] = True; data['A5'] = 0
data['B1'] = 'apple'; data['C1'] = 1.5; data['B2'] = 'pear'; data['C2'] = 2.25; data['D1'] = '=A1*2'
book.defined_names.append(DefinedName('Rate', attr_text='Data!$C$1'))
report = book.create_sheet('Report')
for row, formula in enumerate(['=Data!A1*2', '=Data!A2&"s"', '=Data!A3+1', '=NOT(Data!A4)', '=1/Data!A5', '=Rate*2',
                               '=SUM(Data!C1:C2)', '=VLOOKUP("pear",Data!B1:C2,2,FALSE)', '=Data!D1+1', '=A1+1',
                               '=IF(Data!A1>0,"",1)'], 1):
    report.cell(row, 1).value = formula
report['A3'].number_format = 'yyyy-mm-dd'
book.save(folder + '/Typed.xlsx')
main = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
def sheet(cells): return '<worksheet %s><sheetData>%s</sheetData></worksheet>' % (main, cells)
with zipfile.ZipFile(folder + '/Hand.xlsx', 'w') as z:
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               '<Default Extension="xml" ContentType="application/xml"/>'
               '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
               + ''.join('<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>' % i
                         for i in (1, 2)) + '</Types>')
    z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % rel)
    z.writestr('xl/workbook.xml', '<workbook %s xmlns:r="%s"><sheets><sheet name="Data" sheetId="1" r:id="rId1"/>'
               '<sheet name="Sums" sheetId="2" r:id="rId2"/></sheets></workbook>' % (main, rel))
    z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               + ''.join('<Relationship Id="rId%d" Type="%s/worksheet" Target="worksheets/sheet%d.xml"/>' % (i, rel, i)
                         for i in (1, 2)) + '</Relationships>')
    z.writestr('xl/worksheets/sheet1.xml', sheet(
        '<row r="1"><c r="A1" t="inlineStr"><is><t>x</t></is></c><c r="B1"><v>1</v></c><c r="C1"><f>B1+B2</f></c></row>'
        '<row r="2"><c r="B2"><v>2</v></c></row>'))
    z.writestr('xl/worksheets/sheet2.xml', sheet(
        '<row r="1"><c r="A1" t="str"><f>Data!A1&amp;"!"</f></c></row>'
        '<row r="2"><c r="A2"><f t="shared" ref="A2:A3" si="0">Data!B1*10</f></c></row>'
        '<row r="3"><c r="A3"><f t="shared" si="0"/></c></row>'
        '<row r="4"><c r="A4"><f>Data!C1*2</f></c></row>'
        '<row r="5"><c r="A5"><f>SUM(Data!B1:B2)</f><v>99</v></c></row>'
        '<row r="6"><c r="A6"><f>ISNUMBER(Data!A1)</f></c></row>'))
stored = xlsxwriter.Workbook(folder + '/Stored.xlsx')
stored.calc_on_load = False  # the results stand, as a spreadsheet program saves them
stored.add_worksheet('Data').write('A1', 21)
stored.add_worksheet('Report').write_formula('A1', '=Data!A1*2', None, 42)
stored.close()
)";

const std::string kCalculatedLoss =
    " formulas referring to other sheets, other workbooks or missing names had no stored value and were replaced by "
    "the values LibreOffice calculated";
const std::string kEmptyLoss =
    " formulas referring to other sheets, other workbooks or missing names had no stored value, so their cells are "
    "empty: ";

// Each cell of the outputs as LibreOffice shows it in the source and in the output, with the
// type the output stores (openpyxl's data_type: n, s, b, e, d; f a formula kept; - empty).
constexpr char kResultChecker[] = R"(import sys, zipfile, openpyxl
args = open(sys.argv[1], encoding='utf-8').read().split('\n')
sys.path.insert(0, args[0] + '/tests/tools')
from lo_cells import lo_cells
src, out = args[1], args[2]
cases = [('Typed', 'Report', 'A1', '42', 'n'), ('Typed', 'Report', 'A2', 'pears', 's'),
         ('Typed', 'Report', 'A3', '2024-03-01', 'd'), ('Typed', 'Report', 'A4', 'FALSE', 'b'),
         ('Typed', 'Report', 'A5', '#DIV/0!', 'e'), ('Typed', 'Report', 'A6', '3', 'n'),
         ('Typed', 'Report', 'A7', '3.75', 'n'), ('Typed', 'Report', 'A8', '2.25', 'n'),
         ('Typed', 'Report', 'A9', '43', 'n'), ('Typed', 'Report', 'A10', '43', 'f'), ('Typed', 'Report', 'A11', '', '-'),
         ('Hand', 'Sums', 'A1', 'x!', 's'), ('Hand', 'Sums', 'A2', '10', 'n'), ('Hand', 'Sums', 'A3', '20', 'n'),
         ('Hand', 'Sums', 'A4', '6', 'n'), ('Hand', 'Sums', 'A5', '99', 'n'), ('Hand', 'Sums', 'A6', 'FALSE', 'b')]
files = {}
for book, sheet in {(c[0], c[1]) for c in cases}:
    files[(book, 'src')] = '%s/%s.xlsx' % (src, book)
    files[(book, sheet)] = '%s/%s/%s.xlsx' % (out, book, sheet)
shown = lo_cells(sorted(files.values()))
def text(path, sheet, cell):
    column, row = openpyxl.utils.cell.coordinate_from_string(cell)
    return shown[path].sheets[sheet].get((row - 1, openpyxl.utils.cell.column_index_from_string(column) - 1), '')
for book, sheet, cell, expected, kind in cases:
    source = text(files[(book, 'src')], sheet, cell)
    output = text(files[(book, sheet)], sheet, cell)
    stored = openpyxl.load_workbook(files[(book, sheet)])[sheet][cell]
    stored_kind = '-' if stored.value is None else stored.data_type
    if (source, output, stored_kind) != (expected, expected, kind):
        print('%s %s: shown in the source %r, in the output %r, stored as %s; expected %r, %s'
              % (book, cell, source, output, stored_kind, expected, kind))
with zipfile.ZipFile(files[('Typed', 'Report')]) as z:
    if b'fullCalcOnLoad="1"' not in z.read('xl/workbook.xml'):
        print('the output of Typed does not ask for a calculation on loading')
)";

TEST_F(ConversionTest, FormulasSavedWithoutResultsShowWhatLibreOfficeCalculatesFromOneStart) {
  fs::create_directories(Path("in"));
  test::RunPython(kResultlessWriter, {Path("in")});
  // LibreOffice itself, behind a stand-in that notes the workbooks of each start.
  fs::create_directories(Path("bin"));
  WriteFile(Path("bin/soffice"), "#!/bin/sh\nfor a; do case $a in in/*) printf '%s ' \"$a\";; esac; done >> \"" +
                                     Path("starts") + "\"\necho >> \"" + Path("starts") + "\"\nexec /usr/bin/soffice \"$@\"\n");
  fs::permissions(Path("bin/soffice"), fs::perms::owner_all);
  fs::create_directory(Path("out"));
  const Finished run = RunAndWait({TABREND_CLI, Path("in"), Path("out"), "/verbose=1"},
                                  {"TMPDIR=" + Tmp(), "PATH=" + Path("bin") + ":/usr/bin:/bin"});
  EXPECT_EQ(run.status, 0) << run.err;
  // Typed and Hand in one start; Stored, whose results are all there, in none.
  EXPECT_EQ(ReadFile(Path("starts")), "in/0001.xlsx in/0002.xlsx \n");
  for (const std::string& line : {"  Report.xlsx: 10" + kCalculatedLoss, "  Sums.xlsx: 5" + kCalculatedLoss,
                                 std::string("  Sums.xlsx: 1 formulas referring to other sheets, other workbooks or "
                                             "missing names were replaced by their values")})
    EXPECT_NE(run.err.find(line + "\n"), std::string::npos) << line << "\n" << run.err;
  EXPECT_EQ(test::RunPython(kResultChecker, {TABREND_SOURCE_DIR, Path("in"), Path("out")}), "");
}

TEST_F(ConversionTest, WithoutLibreOfficeOrWhenItFailsResultlessFormulasStayEmptyAndTheReportSaysWhy) {
  fs::create_directories(Path("in"));
  test::RunPython(kResultlessWriter, {Path("in")});
  fs::create_directories(Path("failing"));
  WriteFile(Path("failing/soffice"), "#!/bin/sh\nexit 3\n");
  fs::permissions(Path("failing/soffice"), fs::perms::owner_all);
  struct Case {
    std::string path, reason;
  };
  for (const Case& c : {Case{Path("nowhere"), "LibreOffice, which would calculate them, is not installed (install the "
                                              "Debian package libreoffice-calc-nogui)"},
                        Case{Path("failing"), "they could not be calculated: LibreOffice failed with exit status 3"}}) {
    fs::remove_all(Path("out"));
    fs::create_directory(Path("out"));
    const Finished run = RunAndWait({TABREND_CLI, Path("in/Typed.xlsx"), Path("out"), "/verbose=1"},
                                    {"TMPDIR=" + Tmp(), "PATH=" + c.path});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Listing(Path("out")), (Names{"Data.xlsx", "Report.xlsx"}));
    EXPECT_NE(run.err.find("  Report.xlsx: 10" + kEmptyLoss + c.reason + "\n"), std::string::npos) << run.err;
  }
}

// A stand-in for LibreOffice that hangs, with a helper of its own in its process group; it
// writes both process ids to $FAKE_PIDS.
void WriteHangingOffice(const std::string& folder) {
  fs::create_directories(folder);
  WriteFile(folder + "/soffice", "#!/bin/sh\nsleep 60 &\necho $$ $! > \"$FAKE_PIDS.part\"\nmv \"$FAKE_PIDS.part\" \"$FAKE_PIDS\"\nwait\n");
  fs::permissions(folder + "/soffice", fs::perms::owner_all);
}

std::vector<pid_t> Pids(const std::string& file) {
  std::istringstream words(ReadFile(file));
  std::vector<pid_t> pids;
  for (pid_t pid; words >> pid;) pids.push_back(pid);
  return pids;
}

TEST_F(ConversionTest, AConversionPastItsTimeLimitIsStoppedWithItsWholeGroup) {
  Place("Sales.xls", "Sales.xls");
  WriteHangingOffice(Path("bin"));
  ScopedVariable tmp("TMPDIR", Tmp());
  ScopedVariable path("PATH", Path("bin") + ":/usr/bin:/bin");
  ScopedVariable pids("FAKE_PIDS", Path("pids"));
  SetConversionTimeLimit(std::chrono::milliseconds(400), std::chrono::milliseconds(0));
  auto app = CreateObject("Excel.Application");
  const auto started = std::chrono::steady_clock::now();
  try {
    app->Workbooks().Open(Path("Sales.xls"));
    ADD_FAILURE() << "opened through a LibreOffice that hangs";
  } catch (const AutomationError& error) {
    EXPECT_EQ(error.Description(),
              "'Sales.xls' could not be converted: LibreOffice did not finish within 0.4 seconds and was stopped");
  }
  SetConversionTimeLimit(std::chrono::seconds(180), std::chrono::seconds(30));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  const auto fake = Pids(Path("pids"));
  ASSERT_EQ(fake.size(), 2u);
  for (pid_t pid : fake) EXPECT_TRUE(Gone(pid)) << pid;
}

class InterruptTest : public ConversionTest, public testing::WithParamInterface<int> {};

TEST_P(InterruptTest, ASignalDuringAConversionRemovesEverythingAndEndsTheProgramAsTheSignalWould) {
  Place("Sales.xls", "in/Sales.xls");
  WriteHangingOffice(Path("bin"));
  const pid_t cli = Start({TABREND_CLI, Path("in"), Path("out")},
                          {"TMPDIR=" + Tmp(), "PATH=" + Path("bin") + ":/usr/bin:/bin", "FAKE_PIDS=" + Path("pids")});
  for (int i = 0; i < 500 && !fs::exists(Path("pids")); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(Path("pids"))) << "the conversion never started";
  EXPECT_FALSE(fs::is_empty(Tmp()));
  ::kill(cli, GetParam());
  const auto status = Finish(cli, std::chrono::seconds(20));
  ASSERT_TRUE(status.has_value()) << "the program went on";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == GetParam()) << *status;
  for (pid_t pid : Pids(Path("pids"))) EXPECT_TRUE(Gone(pid)) << pid;
}

// SIGKILL gives no handler a chance: what the killed run left in TMPDIR goes with the next run
// that needs a temporary folder there, and what a live run holds stays.
TEST_F(ConversionTest, WhatAKilledConversionLeftGoesWithTheNextOne) {
  Place("Sales.xls", "in/Sales.xls");
  WriteHangingOffice(Path("bin"));
  fs::create_directories(Path("failing"));
  WriteFile(Path("failing/soffice"), "#!/bin/sh\nexit 3\n");
  fs::permissions(Path("failing/soffice"), fs::perms::owner_all);
  const pid_t cli = Start({TABREND_CLI, Path("in"), Path("out")},
                          {"TMPDIR=" + Tmp(), "PATH=" + Path("bin") + ":/usr/bin:/bin", "FAKE_PIDS=" + Path("pids")});
  for (int i = 0; i < 500 && !fs::exists(Path("pids")); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(Path("pids"))) << "the conversion never started";
  ::kill(cli, SIGKILL);
  ASSERT_TRUE(Finish(cli).has_value());
  for (pid_t pid : Pids(Path("pids"))) ::kill(pid, SIGKILL);  // the run could not stop its LibreOffice
  const Names left = Listing(Tmp());
  ASSERT_EQ(left.size(), 1u);
  const std::string live = "tabrend-" + std::to_string(::getpid()) + "-AbCdEf";
  fs::create_directories(Path("tmp/" + live + "/run-x"));

  const Finished next = RunAndWait({TABREND_CLI, Path("in"), Path("out2")},
                                   {"TMPDIR=" + Tmp(), "PATH=" + Path("failing") + ":/usr/bin:/bin"});
  EXPECT_EQ(next.status, 1);
  EXPECT_EQ(Listing(Tmp()), Names{live});
  fs::remove_all(Path("tmp/" + live));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
}  // namespace tabrend::automation
