// Test support: the main window as plain data, for driving the desktop engine without a
// display. Dialog answers are queued in advance; messages, openings and repaints are recorded.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/Automation.h"
#include "engine/MainView.h"

namespace tabrend::test {

class MemoryView : public MainView {
 public:
  struct Entry {
    std::string text;
    int icon = 0;
    bool ticked = false;
  };
  struct List {
    std::vector<Entry> entries;
    int selected = 0;
    int repaints = 0;
    int scrolledTo = 0;
  };
  struct Message {
    std::string text;
    MessageIcon icon;
    bool underWaitPointer;
  };
  // What the window showed at one RepaintNow.
  struct Frame {
    std::string status;
    int progressValue;
    int progressMax;
    bool waitPointer;
  };

  // --- MainView ---
  int Count(ListId list) const override { return static_cast<int>(At(list).entries.size()); }
  std::string Text(ListId list, int i) const override { return EntryAt(list, i).text; }
  int Icon(ListId list, int i) const override { return EntryAt(list, i).icon; }
  bool Checked(ListId list, int i) const override { return EntryAt(list, i).ticked; }
  void SetChecked(ListId list, int i, bool ticked) override { EntryAt(list, i).ticked = ticked; }
  int SelectedIndex(ListId list) const override { return At(list).selected; }
  void Add(ListId list, const std::string& text, int icon = 0) override {
    Insert(list, Count(list) + 1, text, icon);
  }
  void Insert(ListId list, int i, const std::string& text, int icon = 0) override {
    auto& entries = At(list).entries;
    if (i < 1 || i > Count(list) + 1) OutOfBounds(i);
    entries.insert(entries.begin() + (i - 1), Entry{text, icon, false});
    if (entries.size() == 1) At(list).selected = 1;
    else if (At(list).selected >= i) ++At(list).selected;  // the selection stays on its entry
  }
  void Remove(ListId list, int i) override {
    EntryAt(list, i);
    auto& l = At(list);
    l.entries.erase(l.entries.begin() + (i - 1));
    if (l.selected == i) l.selected = 0;
    else if (l.selected > i) --l.selected;
  }
  void Clear(ListId list) override {
    At(list).entries.clear();
    At(list).selected = 0;
  }
  void Select(ListId list, int i) override {
    EntryAt(list, i);
    At(list).selected = i;
  }
  void ScrollIntoView(ListId list, int i) override {
    EntryAt(list, i);
    At(list).scrolledTo = i;
  }
  void Repaint(ListId list) override { ++At(list).repaints; }
  int NamingMode() const override { return namingMode; }
  void SetProgressMax(int max) override { progressMax = max; }
  void SetProgressValue(int value) override { progressValue = value; }
  void SetStatus(const std::string& text) override { status = text; }
  void SetProgressBusy(bool busy) override { progressBusy = busy; }
  void RepaintNow() override {
    frames.push_back(Frame{status, progressValue, progressMax, waitPointer});
    if (onRepaintNow) onRepaintNow();
  }
  void SetWaitPointer(bool wait) override { waitPointer = wait; }
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    messages.push_back(Message{text, icon, waitPointer});
  }
  void ShowSummary(const std::string& text, MessageIcon icon) override { summaries.push_back(Message{text, icon, waitPointer}); }
  std::optional<std::string> AskWorkbookFile(const std::string& title) override {
    return Answer(fileAnswers, fileTitles, title);
  }
  std::optional<std::string> AskFolder(const std::string& title) override {
    return Answer(folderAnswers, folderTitles, title);
  }
  void OpenFolder(const std::string& path) override { opened.push_back(path); }
  void TrappedError(const std::string& command, const std::string& description) override {
    trapped.push_back(command + ": " + description);
  }

  // --- For the test ---
  std::vector<std::string> Texts(ListId list) const {
    std::vector<std::string> texts;
    for (const auto& entry : At(list).entries) texts.push_back(entry.text);
    return texts;
  }
  std::vector<bool> Ticks(ListId list) const {
    std::vector<bool> ticks;
    for (const auto& entry : At(list).entries) ticks.push_back(entry.ticked);
    return ticks;
  }
  std::vector<int> Icons(ListId list) const {
    std::vector<int> icons;
    for (const auto& entry : At(list).entries) icons.push_back(entry.icon);
    return icons;
  }
  // What the person types over an entry.
  void Rename(ListId list, int i, const std::string& text) { EntryAt(list, i).text = text; }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& message : messages) texts.push_back(message.text);
    return texts;
  }

  std::array<List, 3> lists;
  int namingMode = 0;
  int progressMax = 100;
  int progressValue = 0;
  bool progressBusy = false;
  std::string status;
  bool waitPointer = false;
  std::vector<Frame> frames;
  std::function<void()> onRepaintNow;
  std::vector<Message> messages;
  std::vector<Message> summaries;
  std::deque<std::optional<std::string>> fileAnswers;
  std::deque<std::optional<std::string>> folderAnswers;
  std::vector<std::string> fileTitles;
  std::vector<std::string> folderTitles;
  std::vector<std::string> opened;
  std::vector<std::string> trapped;

 private:
  [[noreturn]] static void OutOfBounds(int i) {
    throw automation::AutomationError(kIndexOutOfBounds,
                                      "Index out of bounds: no entry " + std::to_string(i));
  }
  List& At(ListId list) { return lists[static_cast<int>(list)]; }
  const List& At(ListId list) const { return lists[static_cast<int>(list)]; }
  Entry& EntryAt(ListId list, int i) {
    if (i < 1 || i > Count(list)) OutOfBounds(i);
    return At(list).entries[i - 1];
  }
  const Entry& EntryAt(ListId list, int i) const {
    if (i < 1 || i > Count(list)) OutOfBounds(i);
    return At(list).entries[i - 1];
  }
  static std::optional<std::string> Answer(std::deque<std::optional<std::string>>& answers,
                                           std::vector<std::string>& titles,
                                           const std::string& title) {
    titles.push_back(title);
    if (answers.empty()) {
      ADD_FAILURE() << "a chooser titled \"" << title << "\" was not expected";
      return std::nullopt;
    }
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace tabrend::test
