#include "AboutBoxUnit.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "HomePage.h"
#include "Pictures.h"

namespace {

QLabel* AddLabel(QVBoxLayout* layout, const QString& text, int pointDelta = 0, bool bold = false) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() + pointDelta);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    layout->addWidget(label);
    return label;
}

QFrame* MakePanel() {
    auto* panel = new QFrame;
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(14);
    auto* icon = new QLabel;
    icon->setPixmap(LoadPicture("quorvane.gif"));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    row->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    AddLabel(texts, QStringLiteral("Quorvane 1.0"), 4, true);
    AddLabel(texts, QStringLiteral("Favoriten prüfen"));
    AddLabel(texts, QStringLiteral("Prüft Ihre Internet-Favoriten, besucht Webseiten und "
                                   "entfernt verwaiste Einträge."));
    texts->addStretch();
    AddLabel(texts, QStringLiteral("© Bramwick"));
    QLabel* host = AddLabel(texts, HomePageHost());
    host->setForegroundRole(QPalette::Link);
    row->addLayout(texts, 1);
    return panel;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Info"));
    setFixedSize(298, 213);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    Panel1 = MakePanel();
    layout->addWidget(Panel1, 1);
    OKButton = new QPushButton(QStringLiteral("OK"));
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    OKButton->setMinimumWidth(75);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
}

void TAboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
}
