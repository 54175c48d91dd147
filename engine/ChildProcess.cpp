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

RunResult RunChild(const std::vector<std::string>& arguments, const std::string& folder,
                   std::chrono::milliseconds limit) {
  // Everything the child needs is made before fork: after it, only system calls.
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.rfind("TMPDIR=", 0) == 0 || text.rfind("TMP=", 0) == 0 || text.rfind("TEMP=", 0) == 0) continue;
    environment.emplace_back(text);
  }
  environment.push_back("TMPDIR=" + folder + "/tmp");
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

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
  if (child == 0) {
    ::setpgid(0, 0);
    for (int number : kCleanupSignals) {
      struct sigaction current {};
      ::sigaction(number, nullptr, &current);
      if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_IGN) ::signal(number, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::chdir(folder.c_str()) == 0 && ::dup2(input, 0) == 0 && ::dup2(output, 1) == 1 && ::dup2(output, 2) == 2)
      ::execve(argv[0], argv.data(), envp.data());
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(report[1], &error, sizeof error);
    ::_exit(kExecFailedStatus);
  }
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

  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool timedOut = false;
  for (;;) {
    siginfo_t info {};
    const int waited = ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT);
    if (waited == 0 && info.si_pid == child) break;
    if (waited != 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      timedOut = true;
      break;
    }
    std::this_thread::sleep_for(kChildPollInterval);
  }
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
