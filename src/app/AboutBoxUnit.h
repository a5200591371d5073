// The about box "Info": the program's name, maker and purpose, closed with OK.
#pragma once

#include <QDialog>

class QDialogButtonBox;
class QFrame;
class QPushButton;

class TAboutBox : public QDialog {
  public:
    explicit TAboutBox(QWidget* owner = nullptr);

    QFrame* Panel1 = nullptr;
    QPushButton* OKButton = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
};
