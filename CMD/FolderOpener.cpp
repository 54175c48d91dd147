// xdg-open, started so that it outlives the program and never holds it up.
#include "CMD/FolderOpener.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "engine/ChildProcess.h"

namespace tabrend::cli {

void XdgOpener::Open(const std::string& folder) {
  // Double fork: the intermediate child starts a session and exits at once, so the opener
  // is adopted by init and no zombie is left; the wait below is only for that brief child.
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      const int devNull = ::open("/dev/null", O_RDWR);
      if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        if (devNull > STDERR_FILENO) ::close(devNull);
      }
      char* const argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(folder.c_str()),
                            nullptr};
      ::execvp("xdg-open", argv);
      ::_exit(kExecFailedStatus);
    }
    ::_exit(0);
  }
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace tabrend::cli
