// The main window as the user meets it: its controls after start-up, the layout under a
// resize, the keyboard order, and the start-up's error handling.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <map>
#include <stdexcept>

#include "TempDir.h"
#include "WriterShortcuts.h"

#include "MainFormFixture.h"
#include "app/FavoriteModel.h"
#include "app/ImageBtnUnit.h"
#include "app/StatusBar.h"

namespace {

QColor Background(QWidget* widget) {
    return widget->palette().color(widget->backgroundRole());
}

}  // namespace

TEST_F(MainFormTest, WindowOpensCentredWithCaptionSizeAndCleanState) {
    TMainForm& form = Create();
    EXPECT_EQ(form.windowTitle(), "Bramwick Quorvane 1.0");
    EXPECT_EQ(form.size(), QSize(622, 489));
    QRect screen = form.screen()->availableGeometry();
    EXPECT_LE(std::abs(form.geometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(form.geometry().center().y() - screen.center().y()), 1);
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(form.Progress, 0);
    EXPECT_FALSE(form.Checking);
    EXPECT_FALSE(form.BreakRequested);
    EXPECT_FALSE(form.AbortRequested);
    EXPECT_EQ(form.SortColumn, 0);
    EXPECT_FALSE(form.SortDescending);
    EXPECT_NE(form.Handle(), 0u);
    EXPECT_TRUE(sys::IsWindow(form.Handle()));
}

TEST_F(MainFormTest, ProgramDirIsTheFolderOfTheRunningProgram) {
    TMainForm& form = Create();
    std::string exeDir = QCoreApplication::applicationDirPath().toStdString() + "/";
    EXPECT_EQ(form.ProgramDir, exeDir);
}

TEST_F(MainFormTest, PageControlStripAndLeftPanel) {
    TMainForm& form = Create();
    ASSERT_EQ(form.PageControl1->count(), 1);
    EXPECT_EQ(form.PageControl1->tabText(0), "Quorvane");
    EXPECT_FALSE(form.PageControl1->tabIcon(0).isNull());

    EXPECT_EQ(form.TitlePanel->height(), 33);
    EXPECT_EQ(Background(form.TitlePanel), QColor(240, 202, 166));
    EXPECT_EQ(form.TitleLabel->text(),
              "Favoriten prüfen - Prüfen lassen, Webseiten besuchen und verwaiste Favoriten "
              "löschen");
    EXPECT_TRUE(form.TitleLabel->font().bold());

    EXPECT_EQ(form.LeftPanel->width(), 209);
    EXPECT_EQ(Background(form.LeftPanel), QColor(192, 220, 192));
    EXPECT_EQ(form.Image1->size(), QSize(193, 282));
    EXPECT_FALSE(form.Image1->Picture().isNull());
    EXPECT_EQ(form.HeadlineLabel->text(), "Favoriten prüfen...");
    EXPECT_TRUE(form.HeadlineLabel->wordWrap());
    EXPECT_EQ(form.HeadlineLabel->font().pixelSize(), 19);
    EXPECT_EQ(form.HeadlineLabel->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    EXPECT_NE(form.HeadlineBox->frameShape(), QFrame::NoFrame);
    EXPECT_TRUE(form.Image1->geometry().contains(form.HeadlineBox->geometry().topLeft()));
}

TEST_F(MainFormTest, ButtonAreaControlsAtTheirPlaces) {
    TMainForm& form = Create(1);  // an empty list disables the buttons that act on rows
    struct Expected {
        QPushButton* button;
        const char* caption;
        QRect geometry;
        bool enabled;
    };
    const Expected buttons[] = {
        {form.CheckAllBtn, "&Alle überprüfen", {8, 8, 129, 25}, true},
        {form.BreakBtn, "A&bbrechen", {144, 8, 113, 25}, false},
        {form.ShowBtn, "&Website besuchen...", {264, 8, 129, 25}, true},
        {form.CheckBtn, "&Überprüfen", {8, 40, 129, 25}, true},
        {form.AbortBtn, "&Diese Überprüfung Abbrechen", {144, 40, 249, 25}, false},
        {form.DelBtn, "&Löschen...", {8, 72, 129, 25}, true},
        {form.DelAllBtn, "Alle \"&FAILED\" Einträge löschen...", {144, 72, 249, 25}, true},
    };
    for (const Expected& e : buttons) {
        SCOPED_TRACE(e.caption);
        EXPECT_EQ(e.button->text(), QString::fromUtf8(e.caption));
        EXPECT_EQ(e.button->geometry(), e.geometry);
        EXPECT_EQ(e.button->isEnabled(), e.enabled);
        EXPECT_EQ(e.button->parentWidget(), form.ButtonPanel);
        EXPECT_FALSE(e.button->icon().isNull());
    }
    EXPECT_EQ(form.ButtonPanel->height(), 113);
    EXPECT_EQ(form.DelCheck->text(), "&Sicherheitsabfrage");
    EXPECT_EQ(form.DelCheck->geometry(), QRect(8, 98, 129, 17));
    EXPECT_TRUE(form.DelCheck->isChecked());
}

TEST_F(MainFormTest, ListViewIsAReportOfFiveColumns) {
    TMainForm& form = Create(3);
    QTreeView* list = form.ListView1;
    const std::pair<const char*, int> columns[] = {
        {"Name", 150}, {"Pfad", 100}, {"Datum", 90}, {"URL", 100}, {"Datei", 150}};
    ASSERT_EQ(list->model()->columnCount(), 5);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(columns[i].first);
        EXPECT_EQ(list->model()->headerData(i, Qt::Horizontal).toString(), columns[i].first);
        EXPECT_EQ(list->header()->sectionSize(i), columns[i].second);
    }
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(list->iconSize(), QSize(16, 16));
    EXPECT_FALSE(list->rootIsDecorated());
    ASSERT_EQ(list->model()->rowCount(), 3);
    EXPECT_EQ(list->model()->index(2, 0).data().toString(), "Seite 2");
    EXPECT_EQ(list->model()->index(2, 2).data().toString(), "???");
}

TEST_F(MainFormTest, MemoBottomBarAndImageButtons) {
    TMainForm& form = Create();
    EXPECT_EQ(form.Memo1->minimumHeight(), 45);
    EXPECT_EQ(form.LogSplitter->objectName(), "LogSplitter");
    EXPECT_EQ(form.LogSplitter->widget(0), form.ListView1);
    EXPECT_EQ(form.LogSplitter->widget(1), form.Memo1);
    EXPECT_EQ(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(form.Memo1->isReadOnly());
    EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());

    EXPECT_EQ(form.BottomPanel->height(), 41);
    EXPECT_EQ(form.wwwBtn->size(), QSize(137, 33));
    EXPECT_EQ(form.wwwBtn->text(), "bramwick.example");
    EXPECT_TRUE(form.wwwBtn->autoRaise());
    EXPECT_FALSE(form.wwwBtn->icon().isNull());
    EXPECT_EQ(form.ImageBtnGroup->width(), 214);
    for (TImageBtn* button : {form.ueberbtn, form.endebtn}) {
        SCOPED_TRACE(button == form.ueberbtn ? "ueberbtn" : "endebtn");
        EXPECT_EQ(button->size(), QSize(101, 30));
        EXPECT_EQ(button->parentWidget(), form.ImageBtnGroup);
        EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_FALSE(button->Picture().isNull());
        EXPECT_FALSE(button->Picture2().isNull());
        EXPECT_NE(button->Picture().toImage(), button->Picture2().toImage());
    }
    EXPECT_EQ(form.wwwBtn->toolTip(), "Auf zur Bramwick Homepage...");
    EXPECT_EQ(form.ueberbtn->toolTip(), "Informationen über das Programm");
    EXPECT_EQ(form.endebtn->toolTip(), "Hiermit verlassen Sie das Programm");
}

TEST_F(MainFormTest, StatusBarHasItsThreePanelsEmpty) {
    TMainForm& form = Create();
    EXPECT_EQ(form.statusBar(), form.StatusBar1);
    EXPECT_GE(form.StatusBar1->height(), 19);
    ASSERT_EQ(form.StatusBar1->PanelCount(), 3);
    EXPECT_EQ(form.StatusBar1->PanelRect(0).left(), 1);
    EXPECT_EQ(form.StatusBar1->PanelRect(1).left(), 250 + 1);
    EXPECT_EQ(form.StatusBar1->PanelRect(1).right(), 250 + 160 - 2 - 2);
    // The last panel reaches up to the size grip, however wide the window.
    EXPECT_EQ(form.StatusBar1->PanelRect(2).left(), 250 + 160 + 1);
    EXPECT_EQ(form.StatusBar1->PanelRect(2).right(),
              form.StatusBar1->width() - form.StatusBar1->height() - 2 - 2);
    for (int panel : {0, 2})
        EXPECT_TRUE(form.StatusBar1->PanelText(panel).isEmpty());
}

TEST_F(MainFormTest, PartsFollowAResizeAsAnchored) {
    TMainForm& form = CreateShown(2);
    auto listSize = form.ListView1->size();
    const int memoHeight = form.Memo1->height();
    EXPECT_GE(memoHeight, 70);  // a few lines of the log at first
    EXPECT_GT(listSize.height(), memoHeight);
    form.resize(900, 700);
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return form.ListView1->size() != listSize; }));
    EXPECT_EQ(form.TitlePanel->height(), 33);
    EXPECT_EQ(form.TitlePanel->width(), form.PageControl1->currentWidget()->width());
    EXPECT_EQ(form.LeftPanel->width(), 209);
    EXPECT_EQ(form.ButtonPanel->height(), 113);
    EXPECT_EQ(form.BottomPanel->height(), 41);
    EXPECT_EQ(form.ListView1->width(), listSize.width() + 900 - 622);
    // The list and the log share the height that the window gained, the list the larger part.
    const int gained =
        form.ListView1->height() - listSize.height() + form.Memo1->height() - memoHeight;
    EXPECT_EQ(gained, 700 - 489);
    EXPECT_GT(form.Memo1->height(), memoHeight);
    EXPECT_GT(form.ListView1->height() - listSize.height(), form.Memo1->height() - memoHeight);
    EXPECT_EQ(form.ImageBtnGroup->geometry().right(), form.BottomPanel->width() - 1);
    EXPECT_EQ(form.wwwBtn->x(), 4);
    EXPECT_EQ(form.Memo1->width(), form.ListView1->width());
}

TEST_F(MainFormTest, FailureDuringStartUpShowsTheErrorBoxAndStartUpGoesOn) {
    TMainForm::SetScanHook([](TMainForm& form) {
        form.Favorites.Append(FixtureRow(1));
        throw std::runtime_error("Versuch hinter dem Dateiende zu lesen");
    });
    TMainForm form;
    ASSERT_EQ(Boxes->Shown.size(), 1u);
    const TMessageBoxRequest& box = Boxes->Shown[0];
    EXPECT_EQ(box.Text, "Versuch hinter dem Dateiende zu lesen.");
    EXPECT_EQ(box.Caption, "Quorvane 1.0");
    EXPECT_EQ(box.Icon, TMsgIcon::Error);
    EXPECT_EQ(box.Buttons, TMsgButtons::Ok);
    // What was read before the failure is listed, and the window works.
    EXPECT_EQ(form.ListView1->model()->rowCount(), 1);
    EXPECT_EQ(form.StatusBar1->PanelText(0), "0 Einträge ausgewählt");
    EXPECT_TRUE(form.CheckAllBtn->isEnabled());
}

TEST_F(MainFormTest, EmptyListLeavesTheSelectionPanelEmpty) {
    TMainForm& form = Create(0);
    EXPECT_TRUE(form.StatusBar1->PanelText(0).isEmpty());
}

TEST_F(MainFormTest, HomePageButtonOpensTheMakersPage) {
    TMainForm& form = Create();
    form.wwwBtn->click();
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], "https://bramwick.example/");
}

namespace {

// HOME pointed at a folder of the test's for as long as the object lives.
class TempHome {
  public:
    TempHome() : old_(qgetenv("HOME")) { qputenv("HOME", dir.Path().string().c_str()); }
    ~TempHome() { qputenv("HOME", old_); }
    testsupport::TempDir dir;

  private:
    QByteArray old_;
};

std::string Shortcut(const std::string& address) {
    return "[DEFAULT]\r\nBASEURL=" + address + "\r\n[InternetShortcut]\r\nURL=" + address + "\r\n";
}

}  // namespace

TEST_F(MainFormTest, StartUpListsTheFavoritesFolderWithItsIcon) {
    TempHome home;
    home.dir.Write("Favorites/Suche.url", Shortcut("https://suche.example/"));
    home.dir.Write("Favorites/Reisen/Bahn/Fahrplan.URL", Shortcut("https://bahn.example/"));
    home.dir.Write("Favorites/Reisen/ohne Adresse.url", "[InternetShortcut]\r\nIconIndex=0\r\n");
    TMainForm::SetScanHook(nullptr);
    Form = std::make_unique<TMainForm>();
    QAbstractItemModel* model = Form->ListView1->model();
    ASSERT_EQ(model->rowCount(), 2);
    std::map<QString, QStringList> rows;
    for (int r = 0; r < 2; ++r) {
        QStringList cells;
        for (int c = 1; c < 5; ++c)
            cells << model->index(r, c).data().toString();
        rows[model->index(r, 0).data().toString()] = cells;
        EXPECT_FALSE(model->index(r, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    }
    QString root = QString::fromStdString(home.dir.Path().string()) + "/Favorites/";
    EXPECT_EQ(rows["Suche"],
              (QStringList{"", "???", "https://suche.example/", root + "Suche.url"}));
    EXPECT_EQ(rows["Fahrplan"], (QStringList{"Reisen/Bahn/", "???", "https://bahn.example/",
                                             root + "Reisen/Bahn/Fahrplan.URL"}));
    EXPECT_EQ(Form->StatusBar1->PanelText(0), "0 Einträge ausgewählt");
    EXPECT_EQ(Form->Memo1->toPlainText(), "1 Internet-Verknüpfung ohne Adresse übersprungen.");
    EXPECT_TRUE(Boxes->Shown.empty());
}

// Every shortcut as its writer leaves it has its row, and visiting a row opens the address
// the row shows, which is the one the check asks for.
TEST_F(MainFormTest, EveryWritersShortcutIsARowAndVisitingOpensTheAddressItShows) {
    TempHome home;
    std::map<std::string, std::string> expected;  // file -> address
    for (const auto& file : testsupport::WriterShortcuts("http://h.example")) {
        const std::string path = home.dir.Write("Favorites/" + file.File, file.Bytes).string();
        if (file.Address)
            expected[path] = *file.Address;
    }
    TMainForm::SetScanHook(nullptr);
    TMainForm& form = *(Form = std::make_unique<TMainForm>());
    std::map<std::string, std::string> shown;
    for (const auto& row : form.Favorites.Rows())
        shown[row.Datei] = row.URL;
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(form.Memo1->toPlainText(), "2 Internet-Verknüpfungen ohne Adresse übersprungen.");
    auto* selection = form.ListView1->selectionModel();
    for (int r = 0; r < static_cast<int>(form.Favorites.Count()); ++r) {
        const TFavoriteRow& row = form.Favorites[static_cast<std::size_t>(r)];
        SCOPED_TRACE(row.Datei);
        EXPECT_EQ(form.ListModel->index(r, 3).data().toString().toStdString(), row.URL);
        selection->select(form.ListModel->index(r, 0),
                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        Opened.clear();
        form.ShowBtn->click();
        const QUrl address(QString::fromStdString(row.URL), QUrl::TolerantMode);
        EXPECT_EQ(Opened,
                  std::vector<std::string>{address.toString(QUrl::FullyEncoded).toStdString()});
    }
}

// A newcomer without ~/Favorites learns from the log where the window looked and how to
// point it elsewhere with the window's own buttons; so does one whose folder holds no shortcut.
TEST_F(MainFormTest, NoFavoritesFolderOrNoShortcutStartsEmptyWithOneLineInTheLog) {
    TempHome home;
    const QString folder = QString::fromStdString(home.dir.Path().string()) + "/Favorites";
    const QString hint =
        " Einen anderen Ordner wählen Sie mit „Ordner wählen...“ oder später mit „Quelle...“, "
        "etwa einen von einer Windows-Festplatte kopierten oder dort eingehängten "
        "Favoritenordner.";
    TMainForm::SetScanHook(nullptr);
    Form = std::make_unique<TMainForm>();
    EXPECT_EQ(Form->ListView1->model()->rowCount(), 0);
    EXPECT_EQ(Form->Memo1->toPlainText(),
              "Kein Favoritenordner gefunden: „" + folder + "“ gibt es nicht." + hint);
    EXPECT_TRUE(Boxes->Shown.empty());

    home.dir.Write("Favorites/notiz.txt", "keine Verknüpfung");
    Form = std::make_unique<TMainForm>();
    EXPECT_EQ(Form->Memo1->toPlainText(), "Keine Internet-Verknüpfungen (*.url, *.desktop) in „" +
                                              folder + "“ gefunden." + hint);
}

TEST_F(MainFormTest, TheFolderGivenWithFavoritesIsListedInsteadOfTheUsersOwn) {
    TempHome home;
    home.dir.Write("Favorites/eigen.url", Shortcut("https://eigen.example/"));
    home.dir.Write("win/Favoriten/Bahn/Fahrplan.url", Shortcut("https://bahn.example/"));
    TMainForm::SetScanHook(nullptr);
    TProgramOptions options;
    options.FavoritesFolder = (home.dir.Path() / "win/Favoriten").string();
    Form = std::make_unique<TMainForm>(options);
    ASSERT_EQ(Form->Favorites.Count(), 1u);
    EXPECT_EQ(Form->Favorites[0].Pfad, "Bahn/");
    EXPECT_EQ(Form->Favorites[0].URL, "https://bahn.example/");
    EXPECT_TRUE(Form->Memo1->toPlainText().isEmpty());
}
