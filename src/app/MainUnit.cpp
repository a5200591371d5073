#include "MainUnit.h"

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Bramwick Quorvane 1.0"));
    resize(622, 489);
}
