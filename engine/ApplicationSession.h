// One session with the spreadsheet application: create it (or attach to a running one), open
// one source workbook, and close and quit on every way out. Every split and sheet listing of
// both programs runs inside one; a session holds no state outside itself, so each worker of a
// parallel split can hold its own.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/Automation.h"

namespace tabrend {

inline constexpr char kApplicationClass[] = "Excel.Application";

using ApplicationSource =
    std::function<std::unique_ptr<automation::Application>(const std::string& className)>;

// The descriptions of the clean-up calls that failed after the failure that ended a session.
struct CleanupFailures {
  std::optional<std::string> closing;   // Close of the source workbook
  std::optional<std::string> quitting;  // Quit of the application
};

class ApplicationSession {
 public:
  // Creates the application with `create`. When that throws AutomationError and `attach` is
  // given, attaches with `attach` instead; without it, or when attaching fails too, the last
  // AutomationError reaches the caller.
  ApplicationSession(const ApplicationSource& create, const ApplicationSource& attach = {});
  // Abandon, its failures dropped: the failure that ended the session is the one that counts.
  ~ApplicationSession();
  ApplicationSession(const ApplicationSession&) = delete;
  ApplicationSession& operator=(const ApplicationSession&) = delete;

  automation::Application& App() { return *app_; }

  // Opens the source workbook, then turns the application's alerts off: prompts while
  // opening are the person's to see, prompts while splitting are not.
  automation::Workbook& Open(const std::string& path);

  // The normal end: closes the source workbook (if one was opened), then quits. A failing
  // call throws its AutomationError; no call is ever made twice, Abandon included.
  void Finish();

  // The end after a failure: closes and quits whatever is still open, each at most once,
  // and returns the failures of those calls instead of throwing them.
  CleanupFailures Abandon();

 private:
  std::unique_ptr<automation::Application> app_;
  automation::Workbook* source_ = nullptr;
  // Set before each closing call, so that a clean-up never repeats one that failed.
  bool sourceClosed_ = false;
  bool appQuit_ = false;
};

}  // namespace tabrend
