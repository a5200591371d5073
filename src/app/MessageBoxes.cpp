#include "MessageBoxes.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <utility>

#include "sys/Application.h"

namespace {

std::shared_ptr<IMessageBoxes>& Current() {
    static std::shared_ptr<IMessageBoxes> boxes = std::make_shared<TQtMessageBoxes>();
    return boxes;
}

QMessageBox::Icon QtIcon(TMsgIcon icon) {
    switch (icon) {
        case TMsgIcon::Information:
            return QMessageBox::Information;
        case TMsgIcon::Question:
            return QMessageBox::Question;
        case TMsgIcon::Warning:
            return QMessageBox::Warning;
        case TMsgIcon::Error:
            return QMessageBox::Critical;
        case TMsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// The window speaks German, so its boxes do too, whatever translations Qt finds installed.
void SpeakGerman(QMessageBox& box) {
    const std::pair<QMessageBox::StandardButton, const char*> texts[] = {
        {QMessageBox::Yes, "&Ja"}, {QMessageBox::No, "&Nein"}, {QMessageBox::Ok, "OK"}};
    for (const auto& [button, text] : texts)
        if (QAbstractButton* shown = box.button(button))
            shown->setText(QString::fromUtf8(text));
}

QString ApplicationTitle() {
    return QString::fromStdString(sys::Application::Instance().Title);
}

}  // namespace

TMsgAnswer TQtMessageBoxes::Show(QWidget* parent, const TMessageBoxRequest& request) {
    bool yesNo = request.Buttons == TMsgButtons::YesNo;
    QString caption = request.Caption.isEmpty() ? ApplicationTitle() : request.Caption;
    QMessageBox box(QtIcon(request.Icon), caption, request.Text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    if (yesNo) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    SpeakGerman(box);
    int answer = box.exec();
    if (!yesNo)
        return TMsgAnswer::Ok;
    return answer == QMessageBox::Yes ? TMsgAnswer::Yes : TMsgAnswer::No;
}

IMessageBoxes& MessageBoxes() {
    return *Current();
}

std::shared_ptr<IMessageBoxes> SetMessageBoxes(std::shared_ptr<IMessageBoxes> boxes) {
    auto previous = Current();
    Current() = boxes ? std::move(boxes) : std::make_shared<TQtMessageBoxes>();
    return previous;
}

TMsgAnswer MessageBox(QWidget* parent, const QString& text, const QString& caption,
                      TMsgButtons buttons, TMsgIcon icon) {
    return MessageBoxes().Show(parent, {text, caption, buttons, icon});
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

void ShowException(const std::string& message, QWidget* parent) {
    MessageBox(parent, QString::fromStdString(ErrorBoxText(message)), ApplicationTitle(),
               TMsgButtons::Ok, TMsgIcon::Error);
}

void ShowException(const std::exception& e, QWidget* parent) {
    ShowException(std::string(e.what()), parent);
}
