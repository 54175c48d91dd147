// Test support: the desktop engine over an in-memory window, in a fresh temporary folder, as
// the window leaves it after its start-up.
#pragma once

#include <gtest/gtest.h>

#include "engine/Module1.h"
#include "tests/engine/MemoryView.h"
#include "tests/engine/WorkbookBatch.h"

namespace tabrend::test {

class DesktopTest : public testing::Test {
 protected:
  DesktopTest() {
    engine_.ForceSheetReload = true;  // as the window's start-up leaves it
    engine_.CreateApplication = [this](const std::string& className) {
      ++applications_;
      return automation::CreateObject(className);
    };
  }
  ~DesktopTest() override { EXPECT_EQ(view_.trapped, std::vector<std::string>{}); }

  std::string Path(const std::string& name) const { return dir_ / name; }

  // A source added to the list and clicked, as a person would.
  void ClickSource(const std::string& path, int icon = kIconFolder) {
    view_.Add(ListId::kSources, path, icon);
    view_.Select(ListId::kSources, view_.Count(ListId::kSources));
    engine_.ListView1_ItemClick();
  }
  void ClickWorkbook(int i) {
    view_.Select(ListId::kWorkbooks, i);
    engine_.ListView2_ItemClick();
  }

  TempDir dir_;
  MemoryView view_;
  desktop::Module1 engine_{view_};
  int applications_ = 0;  // application instances started
};

}  // namespace tabrend::test
