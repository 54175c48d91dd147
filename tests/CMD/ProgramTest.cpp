// The tabrendcli program itself, run as a shell would run it: arguments, exit status, what it
// prints, and the opener it starts.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

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

// Runs the program with the given arguments; path, when given, replaces PATH.
Outcome RunProgram(const Names& args, const std::string& path = {}) {
  TempDir streams;
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!path.empty() && std::string(*entry).rfind("PATH=", 0) == 0) continue;
    environment.push_back(*entry);
  }
  if (!path.empty()) environment.push_back("PATH=" + path);
  std::vector<char*> argv{const_cast<char*>(TABREND_CLI)};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const std::string outPath = streams / "out", errPath = streams / "err";
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execve(TABREND_CLI, argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadFile(outPath),
          test::ReadFile(errPath)};
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

TEST_F(ProgramTest, RejectedCommandLinesExitWithTwoAndPrintNothing) {
  Names tooMany{Path("My Folder/Book One.xlsx"), Path("out")};
  while (tooMany.size() < 102) tooMany.push_back("x");
  for (const Names& args : {Names{}, Names{Path("My Folder/Book One.xlsx")},
                            Names{Path("missing.xlsx"), Path("out"), "/verbose=0"}, tooMany,
                            Names{"--help", Path("out")}, Names{"--version", Path("out")}}) {
    const Outcome outcome = RunProgram(args);
    EXPECT_EQ(outcome.status, 2) << args.size() << " arguments";
    EXPECT_EQ(outcome.out + outcome.err, "");
  }
  EXPECT_FALSE(fs::exists(Path("out")));
}

TEST_F(ProgramTest, HelpAloneShowsTheUsage) {
  for (const char* request : {"--help", "-h", "/?", "-H"}) {
    const Outcome outcome = RunProgram({request});
    EXPECT_EQ(outcome.status, 0) << request;
    EXPECT_EQ(outcome.out.rfind("Usage: tabrendcli SOURCE OUTPUT", 0), 0u) << outcome.out;
    EXPECT_NE(outcome.out.find("/overwrite=0"), std::string::npos);
    EXPECT_EQ(outcome.err, "");
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

TEST_F(ProgramTest, VerboseReportsEachWorkbookAndAFailureGivesOne) {
  test::WriteFile(Path("My Folder/Broken.xlsx"), "not a zip");
  fs::create_directory(Path("out"));
  const Outcome quiet = RunProgram({Path("My Folder"), Path("out")});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out + quiet.err, "");
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

TEST_F(ProgramTest, OpensTheOutputRootWithXdgOpenWithoutWaitingForIt) {
  fs::create_directory(Path("bin"));
  const std::string record = Path("opened.txt");
  // The fake opener lingers, as a real one might: the program must not wait for it.
  test::WriteFile(Path("bin/xdg-open"),
                  "#!/bin/sh\nprintf '%s' \"$1\" > '" + record + ".part'\nmv '" + record +
                      ".part' '" + record + "'\nsleep 30\n");
  fs::permissions(Path("bin/xdg-open"), fs::perms::owner_all);

  const auto started = std::chrono::steady_clock::now();
  const Outcome outcome = RunProgram({Path("My Folder/Book One.xlsx"), Path("Out"), "/open=1"},
                                     Path("bin") + ":/usr/bin:/bin");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  for (int i = 0; i < 100 && !fs::exists(record); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(test::ReadFile(record), Path("Out") + "/");

  // No opener at all changes nothing.
  const Outcome without =
      RunProgram({Path("My Folder/Book One.xlsx"), Path("Out"), "/open=1"}, Path("nowhere"));
  EXPECT_EQ(without.status, 0);
  EXPECT_EQ(without.out + without.err, "");
}

}  // namespace
}  // namespace tabrend
