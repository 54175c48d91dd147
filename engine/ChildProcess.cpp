// RunChild: fork and exec of a helper program under a time limit.
#include "engine/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <thread>

#include "engine/SignalCleanup.h"

extern char** environ;

namespace tabrend {

namespace {

// LibreOffice allocates and fills blocks of 64 MB for every sheet it loads. Faulted in 4 KB at
// a time they took three quarters of a start on a virtual machine (4.6 s for a small workbook);
// with malloc asking for transparent huge pages the same start took 1.2 s.
constexpr char kHugePagesTunable[] = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";

// Our environment with TMPDIR set to folder/tmp, TMP and TEMP dropped, and malloc's huge pages
// asked for unless the user tuned glibc already.
std::vector<std::string> ChildEnvironment(const std::string& folder) {
  std::vector<std::string> environment;
  bool tuned = false;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.rfind("TMPDIR=", 0) == 0 || text.rfind("TMP=", 0) == 0 || text.rfind("TEMP=", 0) == 0) continue;
    tuned = tuned || text.rfind("GLIBC_TUNABLES=", 0) == 0;
    environment.emplace_back(text);
  }
  environment.push_back("TMPDIR=" + folder + "/tmp");
  if (!tuned) environment.push_back(kHugePagesTunable);
  return environment;
}

// The texts as the null-terminated array execve takes; they must outlive it.
std::vector<char*> PointersTo(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const auto& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// The child's side of the fork: system calls only. Execs argv, or writes errno to report.
[[noreturn]] void BecomeChild(char* const* argv, char* const* envp, const char* folder, int input, int output,
                              int report) {
  ::setpgid(0, 0);
  for (int number : kCleanupSignals) {
    struct sigaction current {};
    ::sigaction(number, nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_IGN) ::signal(number, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::chdir(folder) == 0 && ::dup2(input, 0) == 0 && ::dup2(output, 1) == 1 && ::dup2(output, 2) == 2)
    ::execve(argv[0], argv, envp);
  const int error = errno;
  [[maybe_unused]] const ssize_t ignored = ::write(report, &error, sizeof error);
  ::_exit(kExecFailedStatus);
}

// Waits until child has ended (without reaping it) or limit runs out; true when it ran out.
bool RanOutOfTime(pid_t child, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    siginfo_t info {};
    const int waited = ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT);
    if (waited == 0 && info.si_pid == child) return false;
    if (waited != 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return true;
    std::this_thread::sleep_for(kChildPollInterval);
  }
}

}  // namespace

RunResult RunChild(const std::vector<std::string>& arguments, const std::string& folder,
                   std::chrono::milliseconds limit) {
  // Everything the child needs is made before fork: after it, only system calls.
  const std::vector<std::string> environment = ChildEnvironment(folder);
  const std::vector<char*> argv = PointersTo(arguments);
  const std::vector<char*> envp = PointersTo(environment);

  RunResult result;
  const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int output = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  int report[2] = {-1, -1};
  if (input < 0 || output < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    result = {RunResult::kNotStarted, errno};
    for (int fd : {input, output, report[0], report[1]})
      if (fd >= 0) ::close(fd);
    return result;
  }

  // Signals wait until the child's group is known, so a handler can always kill it.
  sigset_t all, before;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &before);
  const pid_t child = ::fork();
  if (child == 0) BecomeChild(argv.data(), envp.data(), folder.c_str(), input, output, report[1]);
  const int forkError = errno;
  if (child > 0) {
    ::setpgid(child, child);  // either side may be first
    SetGroupKilledOnSignal(child);
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ::close(input);
  ::close(output);
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    return {RunResult::kNotStarted, forkError};
  }
  int execError = 0;
  ssize_t got;
  while ((got = ::read(report[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof execError)) result = {RunResult::kNotStarted, execError};

  const bool timedOut = RanOutOfTime(child, limit);
  // Whatever is left of the group goes: everything when the time ran out, helpers otherwise.
  ::kill(-child, SIGKILL);
  int status = 0;
  pid_t reaped;
  while ((reaped = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  SetGroupKilledOnSignal(0);
  if (result.outcome == RunResult::kNotStarted) return result;
  if (timedOut) return {RunResult::kTimedOut, 0};
  if (reaped == child && WIFSIGNALED(status)) return {RunResult::kSignalled, WTERMSIG(status)};
  if (reaped == child && WIFEXITED(status)) return {RunResult::kExited, WEXITSTATUS(status)};
  return {RunResult::kExited, 0};  // reaped elsewhere (SIGCHLD ignored): judged by its outputs
}

}  // namespace tabrend
