// The main window's construction: every control with its place, size, colours, texts,
// pictures and initial state. Sizes are those of the window's original layout; the parts
// follow a resize as they are anchored (the strip, the button area and the memo keep their
// height, the list takes the rest; the left panel keeps its width).
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "FavoriteModel.h"
#include "HomePage.h"
#include "ImageBtnUnit.h"
#include "MainUnit.h"
#include "Pictures.h"
#include "StatusBar.h"
#include "StatusDelegate.h"
#include "shell/ShellBrowser.h"
#include "shell/ShellLink.h"
#include "shell/SystemIconTheme.h"
#include "shell/SystemImageList.h"

namespace {

const QColor kStripColor(240, 202, 166);
const QColor kLeftPanelColor(192, 220, 192);
const QColor kMaroon(128, 0, 0);
constexpr int kListHeight = 150;
constexpr int kMemoHeight = 80;  // a row's block at a glance

void Paint(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QPushButton* MakeButton(QWidget* parent, const QString& caption, const char* glyph, int left,
                        int top, int width) {
    auto* button = new QPushButton(caption, parent);
    button->setIcon(QIcon(LoadPicture(glyph)));
    button->setIconSize(QSize(16, 16));
    button->setGeometry(left, top, width, 25);
    button->setAutoDefault(false);
    return button;
}

QVBoxLayout* Column(QWidget* owner) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

// The heights the list and the log ask the splitter for at first: the log shows a few lines,
// the user drags it taller.
class TListView : public QTreeView {
  public:
    QSize sizeHint() const override { return {QTreeView::sizeHint().width(), kListHeight}; }
};
class TLogMemo : public QPlainTextEdit {
  public:
    QSize sizeHint() const override { return {QPlainTextEdit::sizeHint().width(), kMemoHeight}; }
};

}  // namespace

// The components the window owns besides its controls.
void TMainForm::CreateComponents() {
    ShellBrowser1 = std::make_unique<TShellBrowser>();
    ShellBrowser1->SetFileSystemOnly(true);
    ShellBrowser1->SetFilter("*");
    DizSystemImageList1 = std::make_unique<TDizSystemImageList>();
    DizSystemImageList1->SetShareImages(true);
    DizSystemImageList1->SetSize(si_small);
    DizShellLink1 = std::make_unique<TDizShellLink>();
    // Without an icon theme (a bare X server, say) the style's own icons stand in.
    shell::SetFallbackIconProvider([](shell::TIconKind kind) {
        switch (kind) {
            case shell::TIconKind::Folder:
                return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
            case shell::TIconKind::Computer:
                return QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
            case shell::TIconKind::Drive:
                return QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon);
            case shell::TIconKind::Desktop:
                return QApplication::style()->standardIcon(QStyle::SP_DesktopIcon);
            case shell::TIconKind::File:
                break;
        }
        return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    });
}

void TMainForm::CreateControls() {
    setWindowTitle(QStringLiteral("Bramwick Quorvane 1.0"));
    setWindowIcon(ProgramIcon());
    QFont font = this->font();  // the platform's UI font at the layout's 8 points
    font.setPointSize(8);
    setFont(font);
    auto* central = new QWidget(this);
    auto* layout = Column(central);
    layout->addWidget(CreatePageControl(), 1);
    layout->addWidget(CreateBottomPanel());
    setCentralWidget(central);
    CreateStatusBar();
    SetHints();
    resize(622, 489);
}

QWidget* TMainForm::CreatePageControl() {
    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->tabBar()->setAttribute(Qt::WA_Hover);  // hot-tracking tabs
    PageControl1->setIconSize(QSize(16, 16));
    PageControl1->tabBar()->setFocusPolicy(Qt::NoFocus);  // one tab: nothing to switch to
    PageControl1->addTab(CreateTabSheet(), QIcon(LoadPicture("tab.gif")),
                         QStringLiteral("Quorvane"));
    return PageControl1;
}

QWidget* TMainForm::CreateTabSheet() {
    TabSheet1 = new QWidget;
    auto* sheet = Column(TabSheet1);
    sheet->addWidget(CreateTitlePanel());
    auto* body = new QHBoxLayout;
    body->setSpacing(0);
    body->addWidget(CreateLeftPanel());
    auto* right = new QVBoxLayout;
    right->setSpacing(0);
    right->addWidget(CreateButtonPanel());
    // The list and the memo line up with the buttons' left and right edges; the user moves
    // the border between them.
    auto* views = new QVBoxLayout;
    views->setContentsMargins(8, 6, 8, 8);
    CreateListView();
    CreateMemo();
    LogSplitter = new QSplitter(Qt::Vertical);
    LogSplitter->setObjectName(QStringLiteral("LogSplitter"));
    LogSplitter->setChildrenCollapsible(false);
    LogSplitter->addWidget(ListView1);
    LogSplitter->addWidget(Memo1);
    // The splitter keeps the parts' proportions: a larger window gives the log a share too.
    views->addWidget(LogSplitter, 1);
    right->addLayout(views, 1);
    body->addLayout(right, 1);
    sheet->addLayout(body, 1);
    return TabSheet1;
}

QWidget* TMainForm::CreateTitlePanel() {
    TitlePanel = new QFrame;
    TitlePanel->setFixedHeight(33);
    Paint(TitlePanel, kStripColor);
    TitleLabel =
        new QLabel(QStringLiteral("Favoriten prüfen - Prüfen lassen, Webseiten besuchen "
                                  "und verwaiste Favoriten löschen"));
    QFont bold = TitleLabel->font();
    bold.setBold(true);
    TitleLabel->setFont(bold);
    TitleLabel->setPalette(QPalette(Qt::black, kStripColor));
    auto* row = new QHBoxLayout(TitlePanel);
    row->setContentsMargins(8, 0, 8, 0);
    row->addWidget(TitleLabel);
    return TitlePanel;
}

QWidget* TMainForm::CreateLeftPanel() {
    LeftPanel = new QFrame;
    LeftPanel->setFixedWidth(209);
    Paint(LeftPanel, kLeftPanelColor);
    Image1 = new TImage(LeftPanel);
    Image1->SetStretch(true);
    Image1->SetPicture(LoadPicture("decor.gif"));
    Image1->setGeometry(8, 8, 193, 282);

    HeadlineBox = new QFrame(LeftPanel);
    HeadlineBox->setFrameShape(QFrame::Box);
    HeadlineBox->setGeometry(16, 16, 177, 62);
    HeadlineLabel = new QLabel(QStringLiteral("Favoriten prüfen..."), HeadlineBox);
    QFont font(QStringLiteral("Arial Black"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Black);
    font.setPixelSize(19);
    HeadlineLabel->setFont(font);
    HeadlineLabel->setWordWrap(true);
    QPalette maroon = HeadlineLabel->palette();
    maroon.setColor(QPalette::WindowText, kMaroon);
    HeadlineLabel->setPalette(maroon);
    HeadlineLabel->setGeometry(HeadlineBox->contentsRect().adjusted(6, 2, -6, -2));
    return LeftPanel;
}

QWidget* TMainForm::CreateButtonPanel() {
    ButtonPanel = new QWidget;
    ButtonPanel->setFixedHeight(113);
    ButtonPanel->setMinimumWidth(401);
    QWidget* p = ButtonPanel;
    CheckAllBtn = MakeButton(p, QStringLiteral("&Alle überprüfen"), "checkall.gif", 8, 8, 129);
    BreakBtn = MakeButton(p, QStringLiteral("A&bbrechen"), "break.gif", 144, 8, 113);
    ShowBtn = MakeButton(p, QStringLiteral("&Website besuchen..."), "show.gif", 264, 8, 129);
    CheckBtn = MakeButton(p, QStringLiteral("&Überprüfen"), "check.gif", 8, 40, 129);
    AbortBtn =
        MakeButton(p, QStringLiteral("&Diese Überprüfung Abbrechen"), "abort.gif", 144, 40, 249);
    DelBtn = MakeButton(p, QStringLiteral("&Löschen..."), "delete.gif", 8, 72, 129);
    DelAllBtn = MakeButton(p, QStringLiteral("Alle \"&FAILED\" Einträge löschen..."),
                           "deleteall.gif", 144, 72, 249);
    DelCheck = new QCheckBox(QStringLiteral("&Sicherheitsabfrage"), p);
    DelCheck->setGeometry(8, 98, 129, 17);
    DelCheck->setChecked(true);
    BreakBtn->setEnabled(false);
    AbortBtn->setEnabled(false);
    return ButtonPanel;
}

void TMainForm::CreateListView() {
    ListView1 = new TListView;
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListModel = new TFavoriteModel(Favorites, this);
    ListModel->SetIconSource([this](int index) { return DizSystemImageList1->Icon(index); });
    ListView1->setModel(ListModel);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);  // keeps 100,000 rows fast
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setIconSize(QSize(16, 16));
    ListView1->setTextElideMode(Qt::ElideRight);
    QHeaderView* header = ListView1->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    static const int widths[TFavoriteModel::ColumnCount] = {150, 100, 90, 100, 150};
    for (int column = 0; column < TFavoriteModel::ColumnCount; ++column)
        header->resizeSection(column, widths[column]);
    ListView1->setItemDelegateForColumn(TFavoriteModel::colDatum, new TStatusDelegate(ListView1));
}

void TMainForm::CreateMemo() {
    Memo1 = new TLogMemo;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setMinimumHeight(45);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);  // Tab goes on to the next control
    // What a run appends is no edit to take back: without an undo history the log costs no
    // memory per line beyond its text, and appends are cheaper.
    Memo1->setUndoRedoEnabled(false);
}

QWidget* TMainForm::CreateBottomPanel() {
    BottomPanel = new QWidget;
    BottomPanel->setFixedHeight(41);
    auto* row = new QHBoxLayout(BottomPanel);
    row->setContentsMargins(4, 4, 0, 4);
    row->setSpacing(0);

    wwwBtn = new QToolButton;
    wwwBtn->setText(HomePageHost());
    wwwBtn->setIcon(QIcon(LoadPicture("www.gif")));
    wwwBtn->setIconSize(QSize(24, 24));
    wwwBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    wwwBtn->setAutoRaise(true);  // flat
    wwwBtn->setFixedSize(137, 33);
    wwwBtn->setCursor(Qt::PointingHandCursor);
    row->addWidget(wwwBtn, 0, Qt::AlignVCenter);
    row->addStretch(1);

    ImageBtnGroup = new QWidget;
    ImageBtnGroup->setFixedWidth(214);
    auto* group = new QHBoxLayout(ImageBtnGroup);
    group->setContentsMargins(4, 0, 4, 0);
    group->setSpacing(4);
    ueberbtn = new TImageBtn;
    ueberbtn->SetPicture(LoadPicture("info.gif"));
    ueberbtn->SetPicture2(LoadPicture("info_down.gif"));
    endebtn = new TImageBtn;
    endebtn->SetPicture(LoadPicture("exit.gif"));
    endebtn->SetPicture2(LoadPicture("exit_down.gif"));
    ueberbtn->setAccessibleName(QStringLiteral("Info"));
    endebtn->setAccessibleName(QStringLiteral("Beenden"));
    for (TImageBtn* button : {ueberbtn, endebtn}) {
        button->setCursor(Qt::PointingHandCursor);
        group->addWidget(button, 0, Qt::AlignVCenter);
    }
    row->addWidget(ImageBtnGroup);
    return BottomPanel;
}

void TMainForm::CreateStatusBar() {
    StatusBar1 = new TStatusBar;
    // 19 pixels, or what the panels' text needs in a larger font.
    StatusBar1->setFixedHeight(std::max(19, QFontMetrics(font()).height() + 6));
    StatusBar1->AddPanel(250);
    StatusBar1->AddPanel(160, true);  // the progress bar with "12 / 300" on it
    StatusBar1->AddPanel(0);          // the last run's counts, in the rest of the bar
    setStatusBar(StatusBar1);
}

void TMainForm::SetTabOrder() {
    // The buttons row by row as they stand, then the list (with the first-start buttons over
    // it), the log and the bottom bar; controls not made yet are left out.
    QWidget* order[] = {CheckAllBtn, BreakBtn,  ShowBtn,  CheckBtn,        AbortBtn,
                        DelBtn,      DelAllBtn, DelCheck, ChooseFolderBtn, ChooseBookmarksBtn,
                        ListView1,   Memo1,     wwwBtn,   ReloadBtn,       SourceBtn,
                        ueberbtn,    endebtn};
    QWidget* previous = nullptr;
    for (QWidget* widget : order) {
        if (!widget)
            continue;
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
}

void TMainForm::SetHints() {
    wwwBtn->setToolTip(QStringLiteral("Auf zur Bramwick Homepage..."));
    ueberbtn->setToolTip(QStringLiteral("Informationen über das Programm"));
    endebtn->setToolTip(QStringLiteral("Hiermit verlassen Sie das Programm"));
}
