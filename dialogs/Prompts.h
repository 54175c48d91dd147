// Every modal question the program puts to a person passes through here: message boxes, the
// file, folder, colour, font and printer choosers, the program's own dialogs, and handing a
// file or an address to the desktop's opener. Tests switch on interception and queue the
// person's answers, so modal flows run to their end without anybody at the screen.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QDialog;
class QMessageBox;
class QWidget;

namespace tabrend::prompts {

enum class Kind {
  Message,            // ShowMessage
  OpenFile,           // Ask: an existing file
  Folder,             // Ask: an existing folder
  SaveFile,           // Ask: a file name to write
  Color,              // Ask: a colour
  Font,               // Ask: a font
  Printer,            // Ask: confirm the print dialog
  PrinterProperties,  // Ask: confirm the default printer's page and paper settings
  Dialog,             // RunDialog: one of the program's own modal dialogs
  ShellOpen,          // OpenWithShell
  Question,           // AskYesNo: accepted is Yes
};

enum class MessageIcon { None, Information, Error };

// What the program asked. A kind leaves the fields it does not use at their defaults.
struct Request {
  Kind kind = Kind::Message;
  QWidget* owner = nullptr;
  // Window title. Empty optional: the chooser keeps its own title.
  std::optional<QString> caption;
  // Message text; the file or address handed to the opener; the default printer's name.
  QString text;
  MessageIcon icon = MessageIcon::None;
  QString directory;          // start folder; empty leaves the chooser's own
  QString fileName;           // text in the file-name box
  QStringList nameFilters;    // "Description (pattern pattern)"; the first one is selected
  QString defaultSuffix;      // appended to a typed name without extension
  QColor color;               // start colour
  bool fullOpen = false;      // colour chooser opened with its custom-colour part
  QFont font;                 // start font
  QString dialogName;         // objectName of the program's own dialog
};

// What the person answered. `accepted` is false when they cancelled.
struct Answer {
  bool accepted = false;
  QString path;   // the chosen file or folder, absolute
  QColor color;
  QFont font;
  // Kind::Dialog: what the person does with the dialog (tick boxes, press buttons). The
  // dialog's result after this call is the answer.
  std::function<void(QDialog&)> act;
};

// A modal message box with an OK button, over owner, titled with the program's name.
void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon);
// The box ShowMessage shows, not yet shown (for a picture of it).
std::unique_ptr<QMessageBox> MessageBox(QWidget* owner, const QString& text, MessageIcon icon);

// A modal question with Yes and No buttons, over owner, titled with the program's name. True
// when the person answered Yes; No, Escape and closing the box answer false.
bool AskYesNo(QWidget* owner, const QString& text);

// Shows the chooser that request.kind names (OpenFile to PrinterProperties) and waits for the
// person. Never throws; a chooser that cannot be shown answers "not accepted".
Answer Ask(const Request& request);

// Runs one of the program's own dialogs modally and returns its result (QDialog::Accepted or
// QDialog::Rejected).
int RunDialog(QDialog& dialog);

// Hands a local file, a folder or an address ("https:", "mailto:") to the desktop's opener,
// detached. The outcome is not reported: a missing opener or file goes unnoticed.
void OpenWithShell(const QString& target);

// For tests only. While intercepting, no window is shown and nothing is opened: every prompt
// is recorded, and each Ask, AskYesNo or RunDialog takes the first queued answer of its kind. A prompt
// with no such answer is counted as unanswered and gets a refusal (cancel). Messages and
// OpenWithShell need no answer.
namespace testing {
void Intercept();  // start intercepting; forgets earlier answers and records
void Release();    // show real dialogs again
bool Intercepting();
void Queue(Kind kind, Answer answer);
const std::vector<Request>& Asked();  // every prompt since Intercept, in order
std::vector<Request> AskedOf(Kind kind);
int Unanswered();
int Pending();  // answers queued and not yet taken
}  // namespace testing

}  // namespace tabrend::prompts
