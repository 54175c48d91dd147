// The real dialogs behind the prompts, and the interception that tests use instead of them.
#include "dialogs/Prompts.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QUrl>

#include <deque>
#include <utility>

namespace tabrend::prompts {

namespace {

struct Interception {
  bool on = false;
  std::vector<Request> asked;
  std::deque<std::pair<Kind, Answer>> queued;
  int unanswered = 0;
};

Interception& State() {
  static Interception state;
  return state;
}

// Records the request and takes the first queued answer of its kind, if any.
std::optional<Answer> TakeAnswer(const Request& request) {
  Interception& state = State();
  state.asked.push_back(request);
  for (auto it = state.queued.begin(); it != state.queued.end(); ++it) {
    if (it->first == request.kind) {
      Answer answer = std::move(it->second);
      state.queued.erase(it);
      return answer;
    }
  }
  return std::nullopt;
}

// Long unbroken runs (paths, long names) get break opportunities after each "/" and every
// 40 characters, so that a message box wraps them instead of growing past the screen.
QString Wrappable(const QString& text) {
  constexpr int kLongRun = 60, kPiece = 40;
  QString result;
  int run = 0, sinceBreak = 0;
  for (const QChar c : text) {
    result += c;
    run = c.isSpace() ? 0 : run + 1;
    sinceBreak = c.isSpace() ? 0 : sinceBreak + 1;
    if (run >= kLongRun / 2 && (c == QLatin1Char('/') || sinceBreak >= kPiece)) {
      result += QChar(0x200B);  // zero-width space
      sinceBreak = 0;
    }
  }
  return result;
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

void ApplyCaption(QWidget& dialog, const Request& request) {
  if (request.caption) dialog.setWindowTitle(*request.caption);
}

Answer AskFile(const Request& request) {
  QFileDialog dialog(request.owner);
  ApplyCaption(dialog, request);
  // Filters carry their patterns in a trailing "(...)"; the person sees only the description.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (!request.nameFilters.isEmpty()) {
    dialog.setNameFilters(request.nameFilters);
    dialog.selectNameFilter(request.nameFilters.first());
  }
  if (!request.directory.isEmpty()) dialog.setDirectory(request.directory);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (request.kind == Kind::SaveFile) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  Answer answer;
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    answer.accepted = true;
    answer.path = dialog.selectedFiles().first();
  }
  return answer;
}

Answer AskFolder(const Request& request) {
  QFileDialog dialog(request.owner);
  ApplyCaption(dialog, request);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (!request.directory.isEmpty()) dialog.setDirectory(request.directory);
  Answer answer;
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    answer.accepted = true;
    answer.path = dialog.selectedFiles().first();
  }
  return answer;
}

Answer AskColor(const Request& request) {
  QColorDialog dialog(request.color, request.owner);
  ApplyCaption(dialog, request);
  Answer answer;
  if (dialog.exec() == QDialog::Accepted) {
    answer.accepted = true;
    answer.color = dialog.selectedColor();
  }
  return answer;
}

Answer AskFont(const Request& request) {
  QFontDialog dialog(request.font, request.owner);
  ApplyCaption(dialog, request);
  // The chooser offers face, style and size only: its strike-out and underline boxes would
  // promise effects that the answer does not carry.
  for (QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
    if (!group->findChildren<QCheckBox*>().isEmpty()) group->hide();
  }
  Answer answer;
  if (dialog.exec() == QDialog::Accepted) {
    answer.accepted = true;
    answer.font = dialog.selectedFont();
  }
  return answer;
}

Answer AskPrinter(const Request& request) {
  QPrinter printer;
  QPrintDialog dialog(&printer, request.owner);
  ApplyCaption(dialog, request);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
  dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
  Answer answer;
  answer.accepted = dialog.exec() == QDialog::Accepted;
  return answer;
}

Answer AskPrinterProperties(const Request& request) {
  QPrinter printer(QPrinterInfo::printerInfo(request.text));
  QPageSetupDialog dialog(&printer, request.owner);
  ApplyCaption(dialog, request);
  Answer answer;
  answer.accepted = dialog.exec() == QDialog::Accepted;
  return answer;
}

}  // namespace

void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) {
  if (State().on) {
    Request request;
    request.kind = Kind::Message;
    request.owner = owner;
    request.text = text;
    request.icon = icon;
    State().asked.push_back(request);
    return;
  }
  MessageBox(owner, text, icon)->exec();
}

std::unique_ptr<QMessageBox> MessageBox(QWidget* owner, const QString& text, MessageIcon icon) {
  return std::make_unique<QMessageBox>(BoxIcon(icon), QStringLiteral("Tabrend"), Wrappable(text), QMessageBox::Ok,
                                       owner);
}

bool AskYesNo(QWidget* owner, const QString& text) {
  if (State().on) {
    Request request;
    request.kind = Kind::Question;
    request.owner = owner;
    request.text = text;
    if (std::optional<Answer> answer = TakeAnswer(request)) return answer->accepted;
    ++State().unanswered;
    return false;
  }
  QMessageBox box(QMessageBox::Question, QStringLiteral("Tabrend"), Wrappable(text), QMessageBox::Yes | QMessageBox::No,
                  owner);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

Answer Ask(const Request& request) {
  if (State().on) {
    if (std::optional<Answer> answer = TakeAnswer(request)) return *answer;
    ++State().unanswered;
    return Answer{};
  }
  switch (request.kind) {
    case Kind::OpenFile:
    case Kind::SaveFile: return AskFile(request);
    case Kind::Folder: return AskFolder(request);
    case Kind::Color: return AskColor(request);
    case Kind::Font: return AskFont(request);
    case Kind::Printer: return AskPrinter(request);
    case Kind::PrinterProperties: return AskPrinterProperties(request);
    case Kind::Message:
    case Kind::Dialog:
    case Kind::ShellOpen:
    case Kind::Question: break;
  }
  return Answer{};
}

int RunDialog(QDialog& dialog) {
  if (State().on) {
    Request request;
    request.kind = Kind::Dialog;
    request.owner = dialog.parentWidget();
    request.caption = dialog.windowTitle();
    request.dialogName = dialog.objectName();
    std::optional<Answer> answer = TakeAnswer(request);
    if (!answer) {
      ++State().unanswered;
      dialog.reject();
    } else if (answer->act) {
      answer->act(dialog);
    }
    return dialog.result();
  }
  return dialog.exec();
}

void OpenWithShell(const QString& target) {
  if (State().on) {
    Request request;
    request.kind = Kind::ShellOpen;
    request.text = target;
    State().asked.push_back(request);
    return;
  }
  // An address carries its scheme ("https://", "mailto:"); anything else is a local path.
  const QUrl url = target.contains(QStringLiteral("://")) || target.startsWith(QStringLiteral("mailto:"))
                       ? QUrl(target)
                       : QUrl::fromLocalFile(target);
  QDesktopServices::openUrl(url);
}

namespace testing {

void Intercept() {
  State() = Interception{};
  State().on = true;
}

void Release() { State() = Interception{}; }

bool Intercepting() { return State().on; }

void Queue(Kind kind, Answer answer) { State().queued.emplace_back(kind, std::move(answer)); }

const std::vector<Request>& Asked() { return State().asked; }

std::vector<Request> AskedOf(Kind kind) {
  std::vector<Request> found;
  for (const Request& request : State().asked) {
    if (request.kind == kind) found.push_back(request);
  }
  return found;
}

int Unanswered() { return State().unanswered; }

int Pending() { return static_cast<int>(State().queued.size()); }

}  // namespace testing

}  // namespace tabrend::prompts
