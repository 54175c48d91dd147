// Opening the output root in the desktop's file browser once the batch ends.
#pragma once

#include <string>

namespace tabrend::cli {

class FolderOpener {
 public:
  virtual ~FolderOpener() = default;
  // Asks the desktop to show folder. Returns at once; whether the desktop manages to is not
  // reported, as nothing in the program depends on it.
  virtual void Open(const std::string& folder) = 0;
};

// Runs `xdg-open folder` detached: in a new session, with its standard streams on
// /dev/null, and not waited for. A missing xdg-open or a failing start is ignored.
class XdgOpener : public FolderOpener {
 public:
  void Open(const std::string& folder) override;
};

}  // namespace tabrend::cli
