// Test support: the real automation objects wrapped so that a test sees every call made
// through them, in order, and can make one chosen call fail before it reaches the engine.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/Automation.h"

namespace tabrend::test {

using automation::AutomationError;

struct CallLog {
  // "Add", "SaveAs <file>", "Copy", "Sheets.Count", "Delete <sheet>", "name= <new>", "Save",
  // "Close <file>", "Open <file>", "DisplayAlerts", "Worksheets.Count", "Version", "Quit".
  std::vector<std::string> calls;
  // The calls to fail, by operation ("Save") or by whole text ("Close Book.xlsx"), each with
  // the occurrence that fails (1 for the first).
  std::map<std::string, int> failures;

  void Enter(const std::string& operation, const std::string& detail = {}) {
    const std::string text = detail.empty() ? operation : operation + " " + detail;
    calls.push_back(text);
    const int byOperation = ++seen_[operation];
    const int byText = text == operation ? byOperation : ++seen_[text];
    const auto failure = [&](const std::string& key, int seen) {
      const auto found = failures.find(key);
      return found != failures.end() && found->second == seen;
    };
    if (failure(operation, byOperation) || failure(text, byText)) {
      throw AutomationError(automation::kApplicationDefined, "injected failure of " + text);
    }
  }
  long Count(const std::string& text) const { return std::count(calls.begin(), calls.end(), text); }

 private:
  std::map<std::string, int> seen_;
};

class LoggedApplication;
class LoggedWorkbook;

class LoggedSheet : public automation::Sheet {
 public:
  LoggedSheet(automation::Sheet& inner, LoggedApplication& app, CallLog& log)
      : inner_(inner), app_(app), log_(log) {}
  std::string name() const override { return inner_.name(); }
  void name(const std::string& newName) override {
    log_.Enter("name=", newName);
    inner_.name(newName);
  }
  void Copy(automation::Sheet& before) override {
    log_.Enter("Copy");
    inner_.Copy(static_cast<LoggedSheet&>(before).inner_);
  }
  void Delete() override {
    log_.Enter("Delete", inner_.name());
    inner_.Delete();
  }
  bool IsWorksheet() const override { return inner_.IsWorksheet(); }
  automation::Workbook& Parent() override;
  long Visible() const override { return inner_.Visible(); }
  bool HasContent() const override { return inner_.HasContent(); }

 private:
  automation::Sheet& inner_;
  LoggedApplication& app_;
  CallLog& log_;
};

class LoggedSheets : public automation::SheetCollection {
 public:
  LoggedSheets(automation::SheetCollection& inner, LoggedWorkbook& book, const char* label,
               CallLog& log)
      : inner_(inner), book_(book), label_(label), log_(log) {}
  long Count() const override {
    log_.Enter(std::string(label_) + ".Count");
    return inner_.Count();
  }
  automation::Sheet& operator()(long index) override;

 private:
  automation::SheetCollection& inner_;
  LoggedWorkbook& book_;
  const char* label_;
  CallLog& log_;
};

class LoggedWorkbook : public automation::Workbook {
 public:
  LoggedWorkbook(automation::Workbook& inner, LoggedApplication& app, CallLog& log)
      : inner_(inner),
        app_(app),
        log_(log),
        worksheets_(inner.Worksheets(), *this, "Worksheets", log),
        sheets_(inner.Sheets(), *this, "Sheets", log) {}
  automation::SheetCollection& Worksheets() override { return worksheets_; }
  automation::SheetCollection& Sheets() override { return sheets_; }
  void SaveAs(const std::string& path, automation::XlFileFormat format, automation::SaveMode mode) override {
    log_.Enter("SaveAs", path.substr(path.find_last_of('/') + 1));
    inner_.SaveAs(path, format, mode);
  }
  void Save() override {
    log_.Enter("Save");
    inner_.Save();
  }
  void Close() override {
    log_.Enter("Close", inner_.Name());
    inner_.Close();
  }
  std::string Name() const override { return inner_.Name(); }
  std::string FullName() const override { return inner_.FullName(); }
  std::vector<std::string> LossReport() const override { return inner_.LossReport(); }

  automation::Sheet& Wrap(automation::Sheet& sheet) {
    auto& wrapped = sheets_by_inner_[&sheet];
    if (!wrapped) wrapped = std::make_unique<LoggedSheet>(sheet, app_, log_);
    return *wrapped;
  }

 private:
  automation::Workbook& inner_;
  LoggedApplication& app_;
  CallLog& log_;
  LoggedSheets worksheets_;
  LoggedSheets sheets_;
  std::map<automation::Sheet*, std::unique_ptr<LoggedSheet>> sheets_by_inner_;
};

class LoggedApplication : public automation::Application, automation::WorkbookCollection {
 public:
  LoggedApplication(std::unique_ptr<automation::Application> inner, CallLog& log)
      : inner_(std::move(inner)), log_(log) {}
  std::string Version() const override {
    log_.Enter("Version");
    return inner_->Version();
  }
  automation::WorkbookCollection& Workbooks() override { return *this; }
  void DisplayAlerts(bool show) override {
    log_.Enter("DisplayAlerts");
    inner_->DisplayAlerts(show);
  }
  void Quit() override {
    log_.Enter("Quit");
    inner_->Quit();
  }
  automation::Workbook& Open(const std::string& path) override {
    log_.Enter("Open", path.substr(path.find_last_of('/') + 1));
    return Wrap(inner_->Workbooks().Open(path));
  }
  automation::Workbook& Add() override {
    log_.Enter("Add");
    return Wrap(inner_->Workbooks().Add());
  }
  long Count() const override { return inner_->Workbooks().Count(); }

  LoggedWorkbook& Wrap(automation::Workbook& book) {
    auto& wrapped = books_by_inner_[&book];
    if (!wrapped) wrapped = std::make_unique<LoggedWorkbook>(book, *this, log_);
    return *wrapped;
  }

 private:
  std::unique_ptr<automation::Application> inner_;
  CallLog& log_;
  std::map<automation::Workbook*, std::unique_ptr<LoggedWorkbook>> books_by_inner_;
};

inline automation::Workbook& LoggedSheet::Parent() { return app_.Wrap(inner_.Parent()); }

inline automation::Sheet& LoggedSheets::operator()(long index) {
  return book_.Wrap(inner_(index));
}

}  // namespace tabrend::test
