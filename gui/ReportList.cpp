// ReportList over a QTreeWidget with one column and no tree decoration.
#include "gui/ReportList.h"

#include "engine/Automation.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>

namespace tabrend::gui {

namespace {

constexpr int kIconRole = Qt::UserRole + 1;

}  // namespace

ReportList::ReportList(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void ReportList::SetColumnHeader(const QString& text, int width) {
  setHeaderLabels({text});
  header()->resizeSection(0, width);
}

void ReportList::SetCheckBoxes(bool on) {
  checkBoxes_ = on;
  if (!on || TickAll != nullptr) return;
  const auto tickEvery = [this](bool ticked) {
    for (int i = 1; i <= Count(); ++i) SetChecked(i, ticked);
  };
  TickAll = new QAction(QStringLiteral("Tick all"), this);
  TickAll->setObjectName(QStringLiteral("TickAll"));
  TickAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  UntickAll = new QAction(QStringLiteral("Untick all"), this);
  UntickAll->setObjectName(QStringLiteral("UntickAll"));
  UntickAll->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
  for (QAction* action : {TickAll, UntickAll}) {
    // Only while the list itself has the focus: in a name being typed Ctrl+A selects the text.
    action->setShortcutContext(Qt::WidgetShortcut);
    addAction(action);
  }
  connect(TickAll, &QAction::triggered, this, [tickEvery] { tickEvery(true); });
  connect(UntickAll, &QAction::triggered, this, [tickEvery] { tickEvery(false); });
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void ReportList::SetLabelEdit(bool on) {
  labelEdit_ = on;
  setEditTriggers(on ? QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed
                     : QAbstractItemView::NoEditTriggers);
}

int ReportList::Count() const { return topLevelItemCount(); }

QTreeWidgetItem* ReportList::Entry(int i) const {
  if (i < 1 || i > Count()) {
    Fail(kIndexOutOfBounds, "Index out of bounds");
  }
  return topLevelItem(i - 1);
}

int ReportList::NumberOf(const QTreeWidgetItem* item) const {
  return item ? indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)) + 1 : 0;
}

QString ReportList::Text(int i) const { return Entry(i)->text(0); }

int ReportList::Icon(int i) const { return Entry(i)->data(0, kIconRole).toInt(); }

bool ReportList::Checked(int i) const { return Entry(i)->checkState(0) == Qt::Checked; }

void ReportList::SetChecked(int i, bool ticked) {
  Entry(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

int ReportList::SelectedIndex() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? 0 : NumberOf(selected.first());
}

void ReportList::Add(const QString& text, int icon) { Insert(Count() + 1, text, icon); }

void ReportList::Insert(int i, const QString& text, int icon) {
  if (i < 1 || i > Count() + 1) {
    Fail(kIndexOutOfBounds, "Index out of bounds");
  }
  const bool wasEmpty = Count() == 0;
  auto* item = new QTreeWidgetItem(QStringList{text});
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (checkBoxes_) flags |= Qt::ItemIsUserCheckable;
  if (labelEdit_) flags |= Qt::ItemIsEditable;
  item->setFlags(flags);
  if (checkBoxes_) item->setCheckState(0, Qt::Unchecked);
  item->setData(0, kIconRole, icon);
  if (smallIcons_ && icon > 0) item->setIcon(0, smallIcons_->Image(icon));
  insertTopLevelItem(i - 1, item);
  if (wasEmpty) Select(1);
}

void ReportList::Remove(int i) {
  QTreeWidgetItem* item = Entry(i);
  if (item == pressed_) pressed_ = nullptr;
  delete item;
}

void ReportList::Clear() {
  pressed_ = nullptr;
  clear();
}

void ReportList::Select(int i) {
  QTreeWidgetItem* item = Entry(i);
  clearSelection();
  setCurrentItem(item);
  item->setSelected(true);
}

void ReportList::ScrollIntoView(int i) { scrollToItem(Entry(i)); }

void ReportList::Repaint() { viewport()->repaint(); }

void ReportList::SetToolTip(int i, const QString& text) { Entry(i)->setToolTip(0, text); }

bool ReportList::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QTreeWidget::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QTreeWidgetItem* item = itemAt(help->pos());
  if (item == nullptr) {
    QToolTip::hideText();
    return true;
  }
  const QString own = item->toolTip(0);
  QToolTip::showText(help->globalPos(), own.isEmpty() ? item->text(0) : own, viewport(), visualItemRect(item));
  return true;
}

void ReportList::mousePressEvent(QMouseEvent* event) {
  pressed_ = itemAt(event->position().toPoint());
  pressedState_ = pressed_ ? pressed_->checkState(0) : Qt::Unchecked;
  QTreeWidget::mousePressEvent(event);
}

void ReportList::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidgetItem* pressed = pressed_;
  pressed_ = nullptr;
  QTreeWidget::mouseReleaseEvent(event);
  QTreeWidgetItem* released = itemAt(event->position().toPoint());
  // A click that only toggled the tick box is no click on the entry.
  if (event->button() == Qt::LeftButton && released && released == pressed &&
      released->checkState(0) == pressedState_) {
    emit ItemClick(NumberOf(released));
  }
}

void ReportList::keyPressEvent(QKeyEvent* event) {
  QTreeWidgetItem* before = currentItem();
  QTreeWidget::keyPressEvent(event);
  QTreeWidgetItem* after = currentItem();
  if (after && after != before) emit ItemClick(NumberOf(after));
}

}  // namespace tabrend::gui
