// ApplicationSession: the application's lifetime around one source workbook.
#include "engine/ApplicationSession.h"

namespace tabrend {

using automation::AutomationError;

ApplicationSession::ApplicationSession(const ApplicationSource& create, const ApplicationSource& attach) {
  try {
    app_ = create(kApplicationClass);
  } catch (const AutomationError&) {
    if (!attach) throw;
    app_ = attach(kApplicationClass);
  }
}

ApplicationSession::~ApplicationSession() { Abandon(); }

automation::Workbook& ApplicationSession::Open(const std::string& path) {
  source_ = &app_->Workbooks().Open(path);
  app_->DisplayAlerts(false);
  return *source_;
}

void ApplicationSession::Finish() {
  if (source_ != nullptr && !sourceClosed_) {
    sourceClosed_ = true;
    source_->Close();
  }
  if (!appQuit_) {
    appQuit_ = true;
    app_->Quit();
  }
}

CleanupFailures ApplicationSession::Abandon() {
  CleanupFailures failures;
  if (source_ != nullptr && !sourceClosed_) {
    sourceClosed_ = true;
    try {
      source_->Close();
    } catch (const AutomationError& closing) {
      failures.closing = closing.Description();
    }
  }
  if (!appQuit_) {
    appQuit_ = true;
    try {
      app_->Quit();
    } catch (const AutomationError& quitting) {
      failures.quitting = quitting.Description();
    }
  }
  return failures;
}

}  // namespace tabrend
