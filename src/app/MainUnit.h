// The main window of Quorvane: the favourites list with its buttons, the log memo, the bottom
// bar and the status bar with the selection count and the progress panel.
//
// The window's construction is in MainUnitLayout.cpp, its life cycle and the handlers in
// MainUnit.cpp, the status bar (selection count, progress) in MainUnitStatus.cpp, deleting,
// visiting and sorting in MainUnitEdit.cpp, the list's keys and context menu in
// MainUnitMenu.cpp, the log's row blocks and its menu in MainUnitLog.cpp, the watch on the
// Favorites folder and the reload in MainUnitWatch.cpp.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "MainUnitCheck.h"
#include "ResultFileReport.h"
#include "app/core/FavoriteList.h"
#include "app/core/ProgramOptions.h"
#include "sys/Messages.h"

class QAction;
class QCheckBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QMenu;
class QPainter;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeView;
class TDirMon;
class TDizShellLink;
class TDizSystemImageList;
class TFavoriteModel;
class TImage;
class TImageBtn;
class TShellBrowser;
class TStatusBar;

class TMainForm : public QMainWindow {
  public:
    // options: what the command line gave (the Favorites folder to read, say).
    explicit TMainForm(const TProgramOptions& options = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The window's own message handle: WM_USER posted here sets the progress panel.
    sys::HWND Handle() const { return handle_; }

    // --- Controls, by their layout names -------------------------------------------------
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QFrame* TitlePanel = nullptr;  // the coloured strip
    QLabel* TitleLabel = nullptr;
    QFrame* LeftPanel = nullptr;
    TImage* Image1 = nullptr;  // the decorative picture
    QFrame* HeadlineBox = nullptr;
    QLabel* HeadlineLabel = nullptr;
    QWidget* ButtonPanel = nullptr;
    QPushButton* CheckAllBtn = nullptr;
    QPushButton* BreakBtn = nullptr;
    QPushButton* ShowBtn = nullptr;
    QPushButton* CheckBtn = nullptr;
    QPushButton* AbortBtn = nullptr;
    QPushButton* DelBtn = nullptr;
    QPushButton* DelAllBtn = nullptr;
    QCheckBox* DelCheck = nullptr;
    QSplitter* LogSplitter = nullptr;  // the list above, the log memo below
    QTreeView* ListView1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QMenu* RowMenu = nullptr;  // the list's context menu
    QWidget* BottomPanel = nullptr;
    QToolButton* wwwBtn = nullptr;
    QWidget* ImageBtnGroup = nullptr;
    TImageBtn* ueberbtn = nullptr;
    TImageBtn* endebtn = nullptr;
    TStatusBar* StatusBar1 = nullptr;

    // --- Components ----------------------------------------------------------------------
    std::unique_ptr<TShellBrowser> ShellBrowser1;  // finds the Favorites folder for the scan
    std::unique_ptr<TDizSystemImageList> DizSystemImageList1;  // the list's small icons
    std::unique_ptr<TDizShellLink> DizShellLink1;              // nothing is ever linked to it

    // --- Data ----------------------------------------------------------------------------
    TFavoriteList Favorites;  // the rows ListView1 shows, in display order
    TFavoriteModel* ListModel = nullptr;

    TProgramOptions Options;  // from the command line
    std::string ProgramDir;   // folder of the program file, ending with "/"
    int Progress = 0;         // percent shown by the progress panel; not clamped
    QRect ProgressRect;       // the progress panel's inside as last drawn
    QString ProgressLabel;    // "12 / 300" on the progress bar while and after a run

    // The check run with the window's HTTP client (MainUnitCheck.cpp). Its run state goes by
    // the window's names below; all false while idle.
    TMainFormCheck CheckRun{*this};
    THttpCli* const HttpCli1 = &CheckRun.HttpCli;
    bool& Checking = CheckRun.Run.Checking;
    bool& BreakRequested = CheckRun.Run.BreakRequested;
    bool& AbortRequested = CheckRun.Run.AbortRequested;
    // Sort state of the list.
    int SortColumn = 0;
    bool SortDescending = false;

    // --- Start-up and shut-down ----------------------------------------------------------
    // What FavoritenEinlesen runs instead of the scan of the Favorites folder, when set: tests
    // give the window their own rows, or a failure. Returns the previous hook.
    using TScanHook = std::function<void(TMainForm&)>;
    static TScanHook SetScanHook(TScanHook hook);

    void FormCreate();
    void FormClose();
    void FormDestroy();
    void FavoritenEinlesen();  // the scan of the Favorites folder into Favorites
    void OpenURLs();           // restores stored results into the rows
    void SaveURLs();           // stores the rows' results

    // --- Check run -----------------------------------------------------------------------
    void CheckBtnClick();
    void CheckAllBtnClick();
    void BreakBtnClick();
    void AbortBtnClick();
    // Puts the check and cancel buttons into their idle or running states.
    void ShowRunState(bool running);

    // --- Deleting, visiting and sorting --------------------------------------------------
    void ShowBtnClick();
    void DelBtnClick();
    void DelAllBtnClick();
    void ListView1DblClick();
    // True when the key was handled; otherwise the list's default handling follows.
    bool ListView1KeyDown(QKeyEvent* key);
    void ListView1ColumnClick(int column);

    // --- Keys and context menus (MainUnitMenu.cpp, MainUnitLog.cpp) ---------------------
    // Return, Delete, F5, Shift+F5 and Ctrl+C in the list; false for any other key.
    bool ListCommandKey(QKeyEvent* key);
    // The selected rows' addresses, one per line in list order, to the clipboard.
    void CopyAddresses();
    // The file manager on the first selected row's shortcut; bookmarks have no file.
    void ShowInFileManagerClick();
    // Enables the row menu's entries for the selection and the run state.
    void UpdateRowMenu();
    // The log's context menu: copy, select all and "Log leeren"; the caller owns it.
    QMenu* CreateLogMenu();
    void ClearLog();
    // The log scrolled to the current row's last block, if the log holds one.
    void ShowCurrentRowBlock();

    // --- Bottom bar ----------------------------------------------------------------------
    void wwwBtnClick();
    void ueberbtnClick();
    void EndeBtnClick();

    // --- Status bar ----------------------------------------------------------------------
    void ListView1Change();
    void StatusBar1DrawPanel(QPainter& painter, int panel, const QRect& rect);
    void SetProStatus(int percent);
    // Paints the bar for Progress where the screen shows `shown` percent.
    void RepaintProgress(int shown);
    void SBarPaintMore();
    void WMUser(sys::TMessage& message);

    // --- The list follows the Favorites folder (MainUnitWatch.cpp) ------------------------
    // Reads the Favorites folder again and brings the list in line, row by row: the other
    // rows keep their verdicts, the view its selection. During a check run, which addresses
    // its rows by position, it waits for the run's end. Nothing for rows a scan hook gave.
    void ReloadFavorites();
    // The folder whose shortcuts coming and going reload the list; empty when none is watched.
    std::string WatchedFavoritesFolder() const;
    QAction* ReloadAction = nullptr;   // "Liste neu einlesen"
    QToolButton* ReloadBtn = nullptr;  // in the bottom bar

    // --- Selection -----------------------------------------------------------------------
    bool RowSelected(std::size_t row) const;
    std::size_t SelectedCount() const;
    // The selected rows in list order.
    std::vector<std::size_t> SelectedRows() const;
    // Esc: clicks the first enabled cancel button (BreakBtn, then AbortBtn).
    void CancelKeyPressed();

    // --- Source of the favourites (MainUnitFirstStart.cpp) -------------------------------
    // Over the empty list: what the window reads and the way to another folder or file.
    QWidget* FirstStartPanel = nullptr;
    QLabel* FirstStartLabel = nullptr;
    QPushButton* ChooseFolderBtn = nullptr;
    QPushButton* ChooseBookmarksBtn = nullptr;
    QPushButton* SourceBtn = nullptr;  // in the bottom bar: the source, changed at any time
    void ChooseFolderClick();
    void ChooseBookmarkFileClick();
    void DefaultSourceClick();
    // Reads the list again from a source just chosen, with the stored results; refused during
    // a run.
    void ReadSourceAnew();
    // The first-start panel and the buttons that need rows, as the list is now.
    void ShowListState();

    // --- Columns (MainUnitColumns.cpp) ----------------------------------------------------
    // Gives the room a wide list leaves to the name and address columns, or takes it back.
    void FitListColumns();
    // A column's width without the room fitting gave it: the width to remember.
    int ColumnWidthToKeep(int column) const;

    // --- Remembered between starts (MainUnitSettings.cpp) --------------------------------
    void SaveWindowSettings();
    void RestoreWindowSettings();  // place, size, columns and splitters
    void RestoreSortState();       // once the rows are there

    TResultFileReport ResultReport;  // problems with urls.dat, each told once

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // MainUnitLayout.cpp
    void CreateComponents();
    void CreateControls();
    QWidget* CreatePageControl();
    QWidget* CreateTabSheet();
    QWidget* CreateTitlePanel();
    QWidget* CreateLeftPanel();
    QWidget* CreateButtonPanel();
    void CreateListView();
    void CreateMemo();
    QWidget* CreateBottomPanel();
    void CreateStatusBar();
    void SetTabOrder();
    void SetHints();
    // MainUnitMenu.cpp
    void CreateRowMenu();
    void ConnectMenus();
    // MainUnitFirstStart.cpp
    void CreateSourceControls();
    void ApplyRememberedSource();
    void ApplySort();
    // MainUnit.cpp
    void ConnectHandlers();
    void ConnectListView();
    void InstallCancelKey();
    template <typename Handler>
    void Guarded(Handler handler);
    void GuardedCall(const std::function<void()>& handler);
    // A handler as a slot: its exceptions go to the error box, never through Qt's event
    // delivery.
    std::function<void()> GuardedSlot(void (TMainForm::*handler)());
    void WndProc(sys::TMessage& message);
    // MainUnitWatch.cpp
    void CreateReloadAction();
    void WatchFavorites(const std::string& folder);
    void ReloadWhenIdle(bool running);
    void RestoreStoredResults(const std::unordered_set<std::string>& listedBefore);
    void ScheduleReload();

    // MainUnitColumns.cpp
    void ConnectColumnFit();

    sys::HWND handle_ = 0;
    std::vector<int> columnsGiven_;  // per column, the pixels fitting added
    bool fittingColumns_ = false;
    std::unique_ptr<TDirMon> favoritesMon_;  // while a scanned Favorites folder exists
    QTimer* reloadTimer_ = nullptr;          // gathers a burst of changes into one reload
    bool reloadable_ = false;                // the rows came from a scan of the folder
    bool reloadPending_ = false;             // a reload waits for the run's end
};
