// The message boxes: the standard error box's text rule, and the QMessageBox implementation
// with its captions, icons, buttons and answers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>

#include "ScriptedMessageBoxes.h"
#include "app/MessageBoxes.h"
#include "sys/Application.h"

TEST(ErrorBoxText, AppendsAFullStopAfterCharactersThatFollowItInTheTable) {
    const std::pair<std::string, std::string> cases[] = {
        {"Datei nicht gefunden", "Datei nicht gefunden."},
        {"Fehler 5", "Fehler 5."},
        {"Schon fertig.", "Schon fertig."},
        {"Achtung!", "Achtung!"},
        {"(leer)", "(leer)"},
        {"Wirklich?", "Wirklich?."},  // "?" comes after "." in the table
        {"a-", "a-"},
        {"C:/", "C:/."},
        {"Größenänderung ü", "Größenänderung ü."},
        {"", ""},
    };
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(ErrorBoxText(message), shown) << message;
}

TEST(ShowException, UsesTheApplicationTitleAnErrorIconAndOk) {
    sys::Application::Instance().Title = "Quorvane 1.0";
    TScriptedMessageBoxesScope boxes;
    ShowException(std::runtime_error("Zu wenig Speicherplatz"));
    ASSERT_EQ(boxes->Shown.size(), 1u);
    EXPECT_EQ(boxes->Shown[0].Text, "Zu wenig Speicherplatz.");
    EXPECT_EQ(boxes->Shown[0].Caption, "Quorvane 1.0");
    EXPECT_EQ(boxes->Shown[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(boxes->Shown[0].Buttons, TMsgButtons::Ok);
}

namespace {

// Shows a real box and answers it with the button `answer` once it is up; what the box looked
// like is recorded.
struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QStringList buttonTexts;  // in the order of the standard buttons' values
};

TMsgAnswer ShowAndAnswer(const TMessageBoxRequest& request, QMessageBox::StandardButton answer,
                         SeenBox& seen) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), {}};
        for (QMessageBox::StandardButton b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No})
            if (box->button(b))
                seen.buttonTexts << box->button(b)->text();
        if (answer == QMessageBox::Escape)
            box->reject();
        else
            box->button(answer)->click();
    });
    TQtMessageBoxes boxes;
    return boxes.Show(nullptr, request);
}

}  // namespace

TEST(TQtMessageBoxes, YesNoQuestionAnsweredYesOrNo) {
    SeenBox seen;
    TMessageBoxRequest question{"Wollen Sie die markierten Dateien wirklich löschen?",
                                "Dateien löschen", TMsgButtons::YesNo, TMsgIcon::Question};
    EXPECT_EQ(ShowAndAnswer(question, QMessageBox::Yes, seen), TMsgAnswer::Yes);
    EXPECT_EQ(seen.title, "Dateien löschen");
    EXPECT_EQ(seen.text, question.Text);
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.buttonTexts, (QStringList{"&Ja", "&Nein"})) << "the boxes speak German";
    EXPECT_EQ(ShowAndAnswer(question, QMessageBox::No, seen), TMsgAnswer::No);
    EXPECT_EQ(ShowAndAnswer(question, QMessageBox::Escape, seen), TMsgAnswer::No);
}

TEST(TQtMessageBoxes, OkBoxWithoutCaptionTakesTheApplicationTitle) {
    sys::Application::Instance().Title = "Quorvane 1.0";
    SeenBox seen;
    TMessageBoxRequest note{"Konnte Datei nicht löschen!", {}, TMsgButtons::Ok, TMsgIcon::None};
    EXPECT_EQ(ShowAndAnswer(note, QMessageBox::Ok, seen), TMsgAnswer::Ok);
    EXPECT_EQ(seen.title, "Quorvane 1.0");
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
    EXPECT_EQ(seen.buttonTexts, QStringList{"OK"});
}

TEST(MessageBoxes, ScriptedBoxesAnswerInOrderAndAreRemovedAgain) {
    IMessageBoxes* real = &MessageBoxes();
    {
        TScriptedMessageBoxesScope boxes;
        boxes->Answers = {TMsgAnswer::Yes};
        EXPECT_EQ(MessageBox(nullptr, "a", "b", TMsgButtons::YesNo, TMsgIcon::Question),
                  TMsgAnswer::Yes);
        EXPECT_EQ(MessageBox(nullptr, "c", "d", TMsgButtons::YesNo), TMsgAnswer::No);
        ASSERT_EQ(boxes->Shown.size(), 2u);
        EXPECT_EQ(boxes->Shown[1].Text, "c");
    }
    EXPECT_EQ(&MessageBoxes(), real);
}
