// The tabrendcli program itself, run as a shell would run it: arguments, exit status, what it
// prints, and the opener it starts.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "tests/engine/TestWorkbooks.h"

extern char** environ;

namespace tabrend {
namespace {

namespace fs = std::filesystem;
using test::Listing;
using test::TempDir;
using Names = std::vector<std::string>;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Starts the program (behind wrapper, a command that runs it, when given) with its standard
// input, output and error at inPath, outPath and errPath; path, when given, replaces PATH;
// cwd, when given, is the working folder. Returns the child's process id.
pid_t Launch(const Names& args, const std::string& outPath, const std::string& errPath, const std::string& path = {},
             const std::string& cwd = {}, const Names& wrapper = {}, const std::string& inPath = "/dev/null") {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!path.empty() && std::string(*entry).rfind("PATH=", 0) == 0) continue;
    environment.push_back(*entry);
  }
  if (!path.empty()) environment.push_back("PATH=" + path);
  Names command = wrapper;
  command.push_back(TABREND_CLI);
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(::open(inPath.c_str(), O_RDONLY), STDIN_FILENO);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return child;
}

int ExitStatus(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the program with the given arguments and input on its standard input, as Launch
// starts it.
Outcome RunProgram(const Names& args, const std::string& path = {}, const std::string& cwd = {},
                   const std::string& input = {}) {
  TempDir streams;
  const std::string inPath = streams / "in", outPath = streams / "out", errPath = streams / "err";
  test::WriteFile(inPath, input);
  const int status = ExitStatus(Launch(args, outPath, errPath, path, cwd, {}, inPath));
  return {status, test::ReadFile(outPath), test::ReadFile(errPath)};
}

class ProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir.path() / "My Folder");
    test::MakeWorkbook(Path("My Folder/Book One.xlsx"), {"Jan", "Feb"});
  }
  std::string Path(const std::string& relative) const { return dir / relative; }
  TempDir dir;
};

TEST_F(ProgramTest, RejectedCommandLinesExitWithTwoAndSayWhyInOneLine) {
  const std::string book = Path("My Folder/Book One.xlsx");
  Names tooMany{book, Path("out")};
  while (tooMany.size() < 102) tooMany.push_back("x");
  // A switch where the output folder belongs means the folder was forgotten.
  for (const Names& args : {Names{}, Names{book}, Names{Path("missing.xlsx"), Path("out"), "/verbose=0"},
                            tooMany, Names{"--help", Path("out")}, Names{"--version", Path("out")},
                            Names{book, "/name=2"}, Names{book, "/VERBOSE=1"},
                            Names{book, "/overwrite=0", Path("out")}, Names{book, Path("out"), "/format=docx"},
                            Names{"@" + Path("no list.txt"), Path("out")}, Names{"@", Path("out")},
                            Names{book, Path("out"), "/report="},
                            Names{book, Path("out"), "/report=" + Path("no/folder/run.jsonl")}}) {
    const Outcome outcome = RunProgram(args, {}, Path("."));
    EXPECT_EQ(outcome.status, 2) << args.size() << " arguments";
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err.rfind("tabrendcli: ", 0), 0u) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  }
  test::WriteFile(Path("My Folder/.hidden.xlsx"), "");
  EXPECT_EQ(RunProgram({Path("My Folder/.hidden.xlsx"), Path("out")}).err,
            "tabrendcli: '" + Path("My Folder/.hidden.xlsx") + "' is hidden: files and folders whose name begins "
            "with \".\" are not taken as sources (tabrendcli --help lists the usage)\n");
  EXPECT_EQ(Listing(dir.path()), (Names{"My Folder"}));
}

TEST_F(ProgramTest, HelpAloneShowsTheUsage) {
  for (const char* request : {"--help", "-h", "/?", "-H"}) {
    const Outcome outcome = RunProgram({request});
    EXPECT_EQ(outcome.status, 0) << request;
    EXPECT_EQ(outcome.out.rfind("Usage: tabrendcli SOURCE OUTPUT", 0), 0u) << outcome.out;
    EXPECT_NE(outcome.out.find("/overwrite=0"), std::string::npos);
    EXPECT_EQ(outcome.err, "");
  }
  EXPECT_EQ(RunProgram({"--help", "extra"}).err,
            "tabrendcli: '--help' takes no other argument (tabrendcli --help lists the usage)\n");
  // What cannot be printed is no success.
  const int full = ::open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  ::close(full);
  for (const Names& args : {Names{"--help"}, Names{"--version"}}) {
    const int status = ExitStatus(Launch(args, "/dev/full", Path("err")));
    EXPECT_EQ(status, 1) << args[0];
    EXPECT_EQ(test::ReadFile(Path("err")), "tabrendcli: standard output cannot be written: No space left on device\n");
  }
}

// The same version as the About box of the desktop program.
TEST_F(ProgramTest, VersionAlonePrintsTheProductVersion) {
  for (const char* request : {"--version", "--VERSION"}) {
    const Outcome outcome = RunProgram({request});
    EXPECT_EQ(outcome.status, 0) << request;
    EXPECT_EQ(outcome.out, "tabrendcli 10.1.2\n");
    EXPECT_EQ(outcome.err, "");
  }
}

TEST_F(ProgramTest, ArgumentsWithBlanksStayWholeAndTheRunIsSilent) {
  const Outcome outcome = RunProgram({Path("My Folder/Book One.xlsx"), Path("Out Dir")});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_EQ(Listing(Path("Out Dir")), (Names{"Feb.xlsx", "Jan.xlsx"}));
}

TEST_F(ProgramTest, FormatCsvWritesEachSheetAsCsvText) {
  const Outcome outcome = RunProgram({Path("My Folder/Book One.xlsx"), Path("out"), "/format=csv"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(Listing(Path("out")), (Names{"Feb.csv", "Jan.csv"}));
  EXPECT_EQ(test::ReadFile(Path("out/Feb.csv")), "Feb data\r\n");
}

// The shell has cut the arguments: quotes and blanks in them are parts of names. The folder
// the user typed is theirs, whatever it holds; only the names the program makes are checked.
TEST_F(ProgramTest, ArgumentsAndTheOutputFolderAreTakenAsTheyAre) {
  test::MakeWorkbook(Path("my\"book.xlsx"), {"Jan"});
  const std::string typed = Path("\"out Q2\"\tand\\more");
  EXPECT_EQ(RunProgram({Path("my\"book.xlsx"), typed, "/name=2"}).status, 0);
  EXPECT_EQ(Listing(typed), (Names{"mybook_Jan.xlsx"}));

  fs::create_directories(Path("wild/sub"));
  test::MakeWorkbook(Path("wild/b?.xlsx"), {"Feb"});
  EXPECT_EQ(RunProgram({Path("wild/b?.xlsx"), Path("wild/sub/../dots")}).status, 0);
  EXPECT_EQ(Listing(Path("wild/dots")), (Names{"Feb.xlsx"}));
  fs::create_directory(Path("wild-out"));
  EXPECT_EQ(RunProgram({Path("wild"), Path("wild-out")}).status, 0);
  EXPECT_EQ(Listing(Path("wild-out/b?")), (Names{"Feb.xlsx"}));

  // A made name of 249 bytes still fits the file system's 255.
  const std::string longName(240, 'w');
  test::MakeWorkbook(Path(longName + ".xlsx"), {"Jan"});
  EXPECT_EQ(RunProgram({Path(longName + ".xlsx"), Path("long"), "/name=2"}).status, 0);
  EXPECT_EQ(Listing(Path("long")), (Names{longName + "_Jan.xlsx"}));
}

// Two sheets whose names clean to one file name, and two workbooks of one base name in a
// folder source: each output keeps its own file, and the report says where it went.
TEST_F(ProgramTest, OutputsOfOneRunNeverLandOnOneName) {
  fs::create_directory(Path("clash"));
  test::MakeWorkbook(Path("clash/Book.xlsx"), {"a|b", "ab", "a<b"});
  test::MakeWorkbook(Path("clash/Book.xlsm"), {"Other"});
  fs::create_directory(Path("out"));
  const Outcome run = RunProgram({Path("clash"), Path("out"), "/verbose=1"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Listing(Path("out")), (Names{"Book", "Book_2"}));
  EXPECT_EQ(Listing(Path("out/Book")), (Names{"Other.xlsx"}));
  using Sheets = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(test::ReadSheets(Path("out/Book_2/ab.xlsx")), (Sheets{{"a|b", "a|b data"}}));
  EXPECT_EQ(test::ReadSheets(Path("out/Book_2/ab_2.xlsx")), (Sheets{{"ab", "ab data"}}));
  EXPECT_EQ(test::ReadSheets(Path("out/Book_2/ab_3.xlsx")), (Sheets{{"a<b", "a<b data"}}));
  EXPECT_NE(run.err.find("  written into the folder Book_2: Book holds another workbook of this run\n"),
            std::string::npos) << run.err;
  EXPECT_NE(run.err.find("  sheet 'a<b' named ab_3.xlsx: ab.xlsx is another output of this run\n"),
            std::string::npos) << run.err;
}

// Outputs get the source's permission bits less the umask, and the first write into a folder
// clears what a killed run left there, but nothing a live run still holds.
TEST_F(ProgramTest, OutputsTakeTheSourcesModeAndStaleStagingGoes) {
  const std::string book = Path("My Folder/Book One.xlsx");
  fs::permissions(book, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directories(Path("out/.tabrend-999999-1.part"));
  test::WriteFile(Path("out/.tabrend-999999-1.part/Jan.xlsx"), "half");
  fs::create_directories(Path("out/.tabrend-999999-2.part"));
  fs::create_directories(Path("out/.tabrend-keep.part"));
  // A live process that has made its folder but not yet locked it.
  const std::string live = ".tabrend-" + std::to_string(::getpid()) + "-7.part";
  fs::create_directories(Path("out/" + live));
  const int held = ::open(Path("out/.tabrend-999999-2.part").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(RunProgram({book, Path("out")}).status, 0);
  ::close(held);
  Names expected{".tabrend-999999-2.part", ".tabrend-keep.part", live, "Feb.xlsx", "Jan.xlsx"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(Path("out")), expected);
  struct stat info {};
  ASSERT_EQ(::stat(Path("out/Jan.xlsx").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u & ~0022u);

  // A rerun that writes nothing, every file being there already, clears them all the same.
  EXPECT_EQ(RunProgram({book, Path("csv"), "/format=csv"}).status, 0);
  fs::create_directories(Path("csv/.tabrend-999999-3.part"));
  EXPECT_EQ(RunProgram({book, Path("csv"), "/format=csv", "/overwrite=0"}).status, 0);
  EXPECT_EQ(Listing(Path("csv")), (Names{"Feb.csv", "Jan.csv"}));
}

// A scheduler retrying a job that is not dead starts a second run into the same folder: with
// every mkdir held back 0.4 s, each run finds a workbook's folder missing and then made by
// the other. Both succeed, and the folder is complete.
TEST_F(ProgramTest, TwoRunsIntoOneFolderAtOnceBothSucceed) {
  // LeakSanitizer cannot run under ptrace: a sanitized build runs here without it.
  const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
  const Names slowMkdir{"env", std::string("ASAN_OPTIONS=") + (sanitizerOptions ? sanitizerOptions : "") + ":detect_leaks=0",
                        "strace", "-f", "-o", "/dev/null", "-e", "trace=mkdir", "-e", "inject=mkdir:delay_enter=400000"};
  if (RunProgram({"--version"}, {}, {}).status != 0 ||
      ExitStatus(Launch({"--version"}, "/dev/null", Path("strace.err"), {}, {}, slowMkdir)) != 0)
    GTEST_SKIP() << "strace cannot run here: " << test::ReadFile(Path("strace.err"));
  test::MakeWorkbook(Path("My Folder/Book Two.xlsx"), {"Mar"});
  fs::create_directory(Path("out"));
  const pid_t replacing = Launch({Path("My Folder"), Path("out")}, Path("a.out"), Path("a.err"), {}, {}, slowMkdir);
  const pid_t keeping =
      Launch({Path("My Folder"), Path("out"), "/overwrite=0"}, Path("b.out"), Path("b.err"), {}, {}, slowMkdir);
  EXPECT_EQ(ExitStatus(replacing), 0) << test::ReadFile(Path("a.err"));
  EXPECT_EQ(ExitStatus(keeping), 0) << test::ReadFile(Path("b.err"));
  EXPECT_EQ(Listing(Path("out")), (Names{"Book One", "Book Two"}));
  EXPECT_EQ(Listing(Path("out/Book One")), (Names{"Feb.xlsx", "Jan.xlsx"}));
  EXPECT_EQ(test::ReadSheets(Path("out/Book Two/Mar.xlsx")), (std::vector<std::pair<std::string, std::string>>{{"Mar", "Mar data"}}));
}

// A name that would act on the terminal or disguise what follows it is refused as a file name,
// and printed as escapes.
TEST_F(ProgramTest, DeceptiveNamesAreRefusedAndPrintedAsEscapes) {
  fs::create_directory(Path("in"));
  test::MakeWorkbook(Path("in/bill.xlsx"), {"invoice\u202Excl.exe"});
  test::MakeWorkbook(Path("in/next.xlsx"), {"c1\u009B2J"});
  test::WriteFile(Path("in/bad\x1B]0;x\x07.xlsx"), "not a zip");
  fs::create_directory(Path("out"));
  const Outcome run = RunProgram({Path("in"), Path("out")});
  EXPECT_EQ(run.status, 1);
  for (const auto& folder : Listing(Path("out"))) EXPECT_EQ(Listing(Path("out/" + folder)), Names{}) << folder;
  EXPECT_EQ(run.err,
            Path("in/bad\\x1B]0;x\\x07.xlsx") + ": failed (error 1004): 'bad\\x1B]0;x\\x07.xlsx' is not a workbook: no ZIP central directory\n" +
            Path("in/bill.xlsx") + ": failed (error 1004): 'invoice\\u202Excl.exe.xlsx' cannot be saved: the name holds a control character (U+202E)\n" +
            Path("in/next.xlsx") + ": failed (error 1004): 'c1\\u009B2J.xlsx' cannot be saved: the name holds a control character (U+009B)\n");
}

TEST_F(ProgramTest, VerboseReportsEachWorkbookAndAFailureGivesOne) {
  test::WriteFile(Path("My Folder/Broken.xlsx"), "not a zip");
  fs::create_directory(Path("out"));
  const Outcome quiet = RunProgram({Path("My Folder"), Path("out")});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, Path("My Folder/Broken.xlsx") +
                           ": failed (error 1004): 'Broken.xlsx' is not a workbook: no ZIP central directory\n");
  EXPECT_EQ(Listing(Path("out/Book One")), (Names{"Feb.xlsx", "Jan.xlsx"}));

  const Outcome verbose = RunProgram({Path("My Folder"), Path("out"), "/Verbose=1"});
  EXPECT_EQ(verbose.status, 1);
  EXPECT_EQ(verbose.out, "");
  std::istringstream lines(verbose.err);
  Names reported;
  for (std::string line; std::getline(lines, line);) reported.push_back(line);
  ASSERT_EQ(reported.size(), 2u) << verbose.err;
  EXPECT_EQ(reported[0], Path("My Folder/Book One.xlsx") + ": wrote Jan.xlsx, Feb.xlsx");
  EXPECT_EQ(reported[1].rfind(Path("My Folder/Broken.xlsx") + ": failed (error ", 0), 0u)
      << reported[1];
}

// A list on the standard input names workbooks from the working folder, passing over comments,
// blank lines and lock files; each workbook gets its own folder, in the list's order. A file
// whose name begins with "@" is still a workbook source.
TEST_F(ProgramTest, ListOnStandardInputGivesEachWorkbookItsFolder) {
  fs::create_directories(Path("q1"));
  fs::create_directories(Path("q2"));
  fs::create_directories(Path("out"));
  test::MakeWorkbook(Path("q2/a.xlsx"), {"Feb"});
  fs::copy_file(Path("My Folder/Book One.xlsx"), Path("q1/a.xlsx"));
  test::WriteFile(Path("q1/~$a.xlsx"), "\x07someone");
  const Outcome run = RunProgram({"@-", "out"}, {}, dir.path().string(),
                                 "# first quarter\r\nq1/a.xlsx\r\n\r\n  \nq1/~$a.xlsx\nq2/a.xlsx\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Listing(Path("out")), (Names{"a", "a_2"}));
  EXPECT_EQ(Listing(Path("out/a")), (Names{"Feb.xlsx", "Jan.xlsx"}));
  EXPECT_EQ(Listing(Path("out/a_2")), (Names{"Feb.xlsx"}));

  fs::copy_file(Path("q2/a.xlsx"), Path("@b.xlsx"));
  EXPECT_EQ(RunProgram({"@b.xlsx", "single"}, {}, dir.path().string()).status, 0);
  EXPECT_EQ(Listing(Path("single")), (Names{"Feb.xlsx"}));
}

// A run killed mid-way leaves a report of whole lines without its summary.
TEST_F(ProgramTest, ReportCutByAKillStillReadsLineByLine) {
  fs::create_directories(Path("many"));
  fs::create_directories(Path("out"));
  for (int i = 0; i < 80; ++i)
    fs::copy_file(Path("My Folder/Book One.xlsx"), Path("many/b" + std::to_string(100 + i) + ".xlsx"));
  const std::string report = Path("run.jsonl");
  const std::string source = Path("many"), output = Path("out"), reportSwitch = "/report=" + report;
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(TABREND_CLI, TABREND_CLI, source.c_str(), output.c_str(), reportSwitch.c_str(), nullptr);
    ::_exit(127);
  }
  int status = 0;
  bool ended = false;
  while (!(ended = ::waitpid(child, &status, WNOHANG) == child) && test::ReadFile(report).find('\n') == std::string::npos)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  if (!ended) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";

  const std::string text = test::ReadFile(report);
  ASSERT_EQ(text.back(), '\n');
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const auto record = nlohmann::json::parse(line);  // throws on a cut line
    EXPECT_EQ(record["record"], "sheet") << line;
  }
}

TEST_F(ProgramTest, OpensTheOutputRootWithXdgOpenWithoutWaitingForIt) {
  fs::create_directory(Path("bin"));
  const std::string record = Path("opened.txt");
  // The fake opener lingers, as a real one might: the program must not wait for it.
  test::WriteFile(Path("bin/xdg-open"),
                  "#!/bin/sh\nprintf '%s' \"$1\" > '" + record + ".part'\nmv '" + record +
                      ".part' '" + record + "'\nsleep 30\n");
  fs::permissions(Path("bin/xdg-open"), fs::perms::owner_all);

  const auto started = std::chrono::steady_clock::now();
  // An output folder named like an option reaches the opener as a path, never as an option.
  const Outcome outcome = RunProgram({Path("My Folder/Book One.xlsx"), "-Out", "/open=1"},
                                     Path("bin") + ":/usr/bin:/bin", Path("."));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  for (int i = 0; i < 100 && !fs::exists(record); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(test::ReadFile(record), Path("-Out") + "/");

  // No opener at all changes nothing.
  const Outcome without =
      RunProgram({Path("My Folder/Book One.xlsx"), Path("Out"), "/open=1"}, Path("nowhere"));
  EXPECT_EQ(without.status, 0);
  EXPECT_EQ(without.out + without.err, "");
}

}  // namespace
}  // namespace tabrend
