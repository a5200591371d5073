// Message boxes of the application: one small interface, so that the window's questions and
// error reports can be answered by tests. The program uses the QMessageBox implementation.
#pragma once

#include <QString>
#include <exception>
#include <memory>
#include <string>

#include "app/core/MessageKinds.h"

class QWidget;

struct TMessageBoxRequest {
    QString Text;
    QString Caption;  // empty: the application title
    TMsgButtons Buttons = TMsgButtons::Ok;
    TMsgIcon Icon = TMsgIcon::None;
};

class IMessageBoxes {
  public:
    virtual ~IMessageBoxes() = default;
    // Shows the box modally and returns the button the user chose (Ok, Yes or No; closing a
    // Yes/No box counts as No).
    virtual TMsgAnswer Show(QWidget* parent, const TMessageBoxRequest& request) = 0;
};

// The real boxes: a modal QMessageBox.
class TQtMessageBoxes : public IMessageBoxes {
  public:
    TMsgAnswer Show(QWidget* parent, const TMessageBoxRequest& request) override;
};

// The boxes every part of the program shows through.
IMessageBoxes& MessageBoxes();
// Puts other boxes in place (nullptr: the QMessageBox ones again); returns the previous ones.
std::shared_ptr<IMessageBoxes> SetMessageBoxes(std::shared_ptr<IMessageBoxes> boxes);

// Shortcut for MessageBoxes().Show.
TMsgAnswer MessageBox(QWidget* parent, const QString& text, const QString& caption = {},
                      TMsgButtons buttons = TMsgButtons::Ok, TMsgIcon icon = TMsgIcon::None);

// The text of the standard error box: the message with "." appended when its last byte comes
// after "." in the character table (letters, digits and "?" do; "!" and ")" do not).
std::string ErrorBoxText(const std::string& message);
// The standard error box for an exception that reached the user: the message (see above),
// the application title as caption, an error icon and an OK button. The program goes on.
void ShowException(const std::exception& e, QWidget* parent = nullptr);
void ShowException(const std::string& message, QWidget* parent = nullptr);
