// ReportList: the main window's lists (sources, workbooks, sheets) with the operations the
// window and the engine use on them: entries numbered from 1, each with a text, a small-icon
// number and a tick, and at most one selected entry.
#pragma once

#include "engine/MainView.h"

#include <QAction>
#include <QIcon>
#include <QList>
#include <QTreeWidget>

namespace tabrend::gui {

// Error number of an entry number outside 1..Count.
using tabrend::kIndexOutOfBounds;

// Pictures numbered from 1, the small icons of a list.
class ImageList {
 public:
  void Add(const QIcon& image) { images_.append(image); }
  int Count() const { return static_cast<int>(images_.size()); }
  // An empty icon outside 1..Count.
  QIcon Image(int number) const {
    return number >= 1 && number <= Count() ? images_[number - 1] : QIcon();
  }

 private:
  QList<QIcon> images_;
};

// A one-column list in report view. Entry numbers run from 1 to Count(); every accessor that
// takes one throws automation::AutomationError(kIndexOutOfBounds) outside that range.
// Adding to an empty list selects the first entry added. An entry's tooltip is its own, or
// else its whole text, which a narrow column cuts short.
class ReportList : public QTreeWidget {
  Q_OBJECT

 public:
  explicit ReportList(QWidget* parent = nullptr);

  // The header text and its width in pixels, left-aligned.
  void SetColumnHeader(const QString& text, int width);
  // Entries added from now on carry a tick box (unticked). The list then offers TickAll and
  // UntickAll, in its context menu and on Ctrl+A and Ctrl+Shift+A while it has the focus.
  void SetCheckBoxes(bool on);
  // Entries added from now on can be renamed in place (a click on the selected entry, or F2).
  void SetLabelEdit(bool on);
  // The pictures behind the entries' icon numbers. The list does not own them.
  void SetSmallIcons(const ImageList* images) { smallIcons_ = images; }

  int Count() const;
  QString Text(int i) const;
  int Icon(int i) const;  // 0: no icon
  bool Checked(int i) const;
  void SetChecked(int i, bool ticked);
  int SelectedIndex() const;  // 0 when no entry is selected

  void Add(const QString& text, int icon = 0);
  // Inserts before the entry now at number i, so the new entry gets number i (Count()+1 adds
  // at the end).
  void Insert(int i, const QString& text, int icon = 0);
  void Remove(int i);
  void Clear();
  void Select(int i);
  void ScrollIntoView(int i);
  void Repaint();
  void SetToolTip(int i, const QString& text);

  // "Tick all" and "Untick all": every entry's tick set or cleared. Null without tick boxes.
  QAction* TickAll = nullptr;
  QAction* UntickAll = nullptr;

 signals:
  // The person clicked entry i (not its tick box), or moved the selection to it with the keys.
  void ItemClick(int i);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  QTreeWidgetItem* Entry(int i) const;
  int NumberOf(const QTreeWidgetItem* item) const;

  bool checkBoxes_ = false;
  bool labelEdit_ = false;
  const ImageList* smallIcons_ = nullptr;
  QTreeWidgetItem* pressed_ = nullptr;
  Qt::CheckState pressedState_ = Qt::Unchecked;
};

}  // namespace tabrend::gui
