#include "app/Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QAbstractItemView>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>

#include "app/paths.h"
#include "converter/progress.h"
#include "jobs/job.h"
#include "net/worker.h"
#include "settings/Options.h"
#include "settings/datafiles.h"
#include "ui/Busy.h"
#include "ui/Icons.h"
#include "ui/Lvdata.h"
#include "ui/Shell.h"
#include "util/files.h"

TFMain* FMain = nullptr;

namespace {

constexpr const char* kConverterName = "movenna-convert";
constexpr const char* kPlayerName = "movenna-player";
constexpr int kDesignedWidth = 649;
constexpr int kDesignedHeight = 461;
// How long a finished run shows its full progress bar.
constexpr int kFullBarMs = 300;

// A worker queued a call for the GUI thread: have the event loop run it.
// Called with the queue's lock held, so it only posts.
void WakeGuiThread(void* data) {
    QMetaObject::invokeMethod(static_cast<TFMain*>(data), [] { GuiCallRunPending(); }, Qt::QueuedConnection);
}

std::string FileInFolder(const std::string& folder, const char* name) {
    std::string path = folder;
    if (!PathJoin(path, name)) return {};
    return path;
}

} // namespace

QString TFMain::Title() { return QStringLiteral("Movenna"); }

TFMain::TFMain(const TFMainSetup& setup, QWidget* parent) : QMainWindow(parent) {
    FMain = this;
    converterPath_ = setup.converterPath.empty() ? ModuleFilePath(kConverterName) : setup.converterPath;
    playerPath_ = setup.playerPath.empty() ? ModuleFilePath(kPlayerName) : setup.playerPath;
    if (setup.dataFolder.empty()) {
        settingsPath_ = DataFilePath(kSettingsFileName);
        historyPath_ = DataFilePath(kHistoryFileName);
    } else {
        settingsPath_ = FileInFolder(setup.dataFolder, kSettingsFileName);
        historyPath_ = FileInFolder(setup.dataFolder, kHistoryFileName);
    }
    defaultDestFolder_ = setup.defaultDestFolder.empty() ? DefaultDestFolder() : setup.defaultDestFolder;
    arguments_ = setup.arguments;
    updateCheck_ = setup.updateCheck;
    tipAtStart_ = setup.tipAtStart;
    powerOff_ = setup.powerOff;
    settingsDialog = [this](AppSettings& s, const QString& caption) { return ShowSettingsDialog(s, caption, this); };

    progressHideTimer_.setSingleShot(true);
    progressHideTimer_.setInterval(kFullBarMs);
    connect(&progressHideTimer_, &QTimer::timeout, this, [this] { ProgressBar->hide(); });

    BuildWindow();
    FormCreate();
}

TFMain::~TFMain() {
    FormDestroy();
    if (FMain == this) FMain = nullptr;
}

// ---------------------------------------------------------------- layout

void TFMain::BuildWindow() {
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(Title());
    setWindowIcon(ProgramIcon());
    resize(kDesignedWidth, kDesignedHeight);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    PanelTop = new QFrame(central);
    PanelTop->setObjectName(QStringLiteral("PanelTop"));
    PanelTop->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    PanelTop->setMinimumHeight(41);
    column->addWidget(PanelTop);
    BuildToolBar();

    Panel1 = new QFrame(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::NoFrame);
    auto* inner = new QVBoxLayout(Panel1);
    inner->setContentsMargins(0, 0, 0, 0);
    inner->setSpacing(0);
    column->addWidget(Panel1, 1);
    BuildSettingsPanel();
    BuildJobList();
    setCentralWidget(central);

    BuildMenus();
    ConnectCommands();
    setAcceptDrops(true);
}

void TFMain::BuildToolBar() {
    auto* row = new QHBoxLayout(PanelTop);
    row->setContentsMargins(2, 1, 4, 1);
    row->setSpacing(0);
    ToolBar1 = new QToolBar(PanelTop);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setIconSize(QSize(20, 20));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    row->addWidget(ToolBar1);

    struct ButtonRow {
        QToolButton* TFMain::*member;
        const char* name;
        const char* caption;
        const char* hint;
        const char* image;
    };
    static constexpr ButtonRow kButtons[] = {
        {.member = &TFMain::TBAdd, .name = "TBAdd", .caption = QT_TR_NOOP("Add"),
         .hint = QT_TR_NOOP("Add Videos to convert"), .image = "add"},
        {.member = &TFMain::TBRemove, .name = "TBRemove", .caption = QT_TR_NOOP("Remove"),
         .hint = QT_TR_NOOP("Remove videos from the list"), .image = "remove"},
        {.member = &TFMain::TBConvert, .name = "TBConvert", .caption = QT_TR_NOOP("Convert"),
         .hint = QT_TR_NOOP("Convert Videos"), .image = "convert"},
        {.member = &TFMain::TBOptions, .name = "TBOptions", .caption = QT_TR_NOOP("Settings"),
         .hint = QT_TR_NOOP("Settings"), .image = "settings"},
        {.member = &TFMain::TBHelp, .name = "TBHelp", .caption = QT_TR_NOOP("Help"),
         .hint = QT_TR_NOOP("Help"), .image = "help"},
    };
    for (const ButtonRow& b : kButtons) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(QLatin1String(b.name));
        button->setText(tr(b.caption));
        button->setToolTip(tr(b.hint));
        button->setIcon(ToolbarIcon(QLatin1String(b.image)));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setAutoRaise(true);
        button->setMinimumSize(47, 36);
        ToolBar1->addWidget(button);
        ToolBar1->addSeparator();
        this->*b.member = button;
    }
    row->addStretch(1);

    Image1 = new QLabel(PanelTop);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(32, 37);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(IdlePicture().pixmap(QSize(32, 32)));
    row->addWidget(Image1);
    RxGIFAnimator1 = new TBusyAnimator(PanelTop);
    RxGIFAnimator1->setObjectName(QStringLiteral("RxGIFAnimator1"));
    RxGIFAnimator1->setFixedSize(32, 37);
    RxGIFAnimator1->hide();
    row->addWidget(RxGIFAnimator1);
}

void TFMain::BuildSettingsPanel() {
    PanelSettings = new QFrame(Panel1);
    PanelSettings->setObjectName(QStringLiteral("PanelSettings"));
    auto* grid = new QGridLayout(PanelSettings);
    grid->setContentsMargins(8, 6, 8, 8);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    LabelDir = new QLabel(tr("Destination Folder:"), PanelSettings);
    EdDir = new QLineEdit(PanelSettings);
    EdDir->setObjectName(QStringLiteral("EdDir"));
    // Display only: the folder is changed through the "..." button.
    EdDir->setReadOnly(true);
    EdDir->setFocusPolicy(Qt::NoFocus);
    QFont bold = EdDir->font();
    bold.setBold(true);
    EdDir->setFont(bold);
    BSelectDir = new QPushButton(QStringLiteral("..."), PanelSettings);
    BSelectDir->setObjectName(QStringLiteral("BSelectDir"));
    BSelectDir->setToolTip(tr("Choose the destination folder"));
    LabelFormat = new QLabel(tr("Video Format:"), PanelSettings);
    CBVideoFor = new QComboBox(PanelSettings);
    CBVideoFor->setObjectName(QStringLiteral("CBVideoFor"));
    CBVideoFor->setMaxVisibleItems(30);
    CBVideoFor->setMinimumWidth(221);
    // Wide enough for the longest profile name; the folder takes what is left.
    CBVideoFor->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    BVideoOptions = new QPushButton(QStringLiteral(">>"), PanelSettings);
    BVideoOptions->setObjectName(QStringLiteral("BVideoOptions"));
    BVideoOptions->setToolTip(tr("Settings of the video format"));
    for (QPushButton* b : {BSelectDir, BVideoOptions}) {
        b->setFixedWidth(qMax(25, b->fontMetrics().horizontalAdvance(b->text()) + 12));
        b->setAutoDefault(false);
    }
    LabelDir->setBuddy(BSelectDir);
    LabelFormat->setBuddy(CBVideoFor);

    grid->addWidget(LabelDir, 0, 0, 1, 2);
    grid->addWidget(LabelFormat, 0, 3, 1, 2);
    grid->addWidget(EdDir, 1, 0);
    grid->addWidget(BSelectDir, 1, 1);
    grid->setColumnMinimumWidth(2, 6);
    grid->addWidget(CBVideoFor, 1, 3);
    grid->addWidget(BVideoOptions, 1, 4);
    grid->setColumnStretch(0, 1);
    Panel1->layout()->addWidget(PanelSettings);
}

void TFMain::BuildJobList() {
    LVBook = new TListViewData(Panel1);
    LVBook->setObjectName(QStringLiteral("LVBook"));
    LVBook->lvdSetColumns({
        {.caption = tr("Source"), .width = 150, .autoSize = true},
        {.caption = tr("Duration"), .width = 75},
        {.caption = tr("Name"), .width = 150, .autoSize = true},
        {.caption = tr("Status"), .width = 193, .fixed = true},
    });
    LVBook->setImages(ListImages());
    LVBook->setContextMenuPolicy(Qt::CustomContextMenu);
    LVBook->installEventFilter(this);
    LVBook->OnLVFastDisplayShort = [this](TListViewData*, LVDispItem& item) { LVBookFastDisplay(item); };
    LVBook->OnLVDChange = [this](TListViewData*, const LVChange&) { UpdateCommandStates(); };
    // Why a conversion failed, on its status.
    LVBook->OnLVToolTip = [this](TListViewData*, int row, int column, std::string& text) {
        if (Closing || store_ == nullptr || column != 3 || row < 0 || row >= JobCount(store_)) return;
        const ConversionJob& job = *JobAt(store_, row);
        JobLockGuard lock;
        if (job.status.load() == ConvertError) text = job.errorText;
    };
    Panel1->layout()->addWidget(LVBook);
}

QAction* TFMain::NewAction(QMenu* menu, const char* name, const QString& caption, const QKeySequence& shortcut) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    menu->addAction(action);
    return action;
}

void TFMain::BuildMenus() {
    QMenuBar* bar = menuBar();
    File1 = bar->addMenu(tr("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    AddVideos1 = NewAction(File1, "AddVideos1", tr("&Add Video Entry"), QKeySequence(Qt::Key_Insert));
    DeleteEntry1 = NewAction(File1, "DeleteEntry1", tr("&Remove Video Entry"), QKeySequence(Qt::Key_Delete));
    ConvertLocalVideo1 = NewAction(File1, "ConvertLocalVideo1", tr("&Convert  Video(s)"), QKeySequence(Qt::Key_F2));
    File1->addSeparator();
    StopConversion1 = NewAction(File1, "StopConversion1", tr("&Stop Conversion"), QKeySequence(Qt::CTRL | Qt::Key_T));
    StopAll1 = NewAction(File1, "StopAll1", tr("Sto&p All"), QKeySequence(Qt::Key_Escape));
    File1->addSeparator();
    DeleteUnExistingVideoEntries1 =
        NewAction(File1, "DeleteUnExistingVideoEntries1", tr("Delete All Entries with &UnExisting Videos"), {});
    File1->addSeparator();
    RenameVideo1 = NewAction(File1, "RenameVideo1", tr("&Rename Video"), QKeySequence(Qt::Key_F6));
    DeleteVideo1 = NewAction(File1, "DeleteVideo1", tr("Delete &Video"), QKeySequence(Qt::Key_F8));
    File1->addSeparator();
    OpenOutputFolder1 = NewAction(File1, "OpenOutputFolder1", tr("&Open Destination Folder"), {});
    PlayVideo1 = NewAction(File1, "PlayVideo1", tr("&Play Video"), {});
    File1->addSeparator();
    Exit1 = NewAction(File1, "Exit1", tr("&Exit"), QKeySequence(Qt::ALT | Qt::Key_F4));

    Options1 = bar->addMenu(tr("&Options"));
    Options1->setObjectName(QStringLiteral("Options1"));
    Settings1 = NewAction(Options1, "Settings1", tr("&Settings"), QKeySequence(Qt::CTRL | Qt::Key_E));
    Options1->addSeparator();
    ViewToolbar1 = NewAction(Options1, "ViewToolbar1", tr("Show &Toolbar"), {});
    ViewSettings1 = NewAction(Options1, "ViewSettings1", tr("Show &Main Settings"), {});
    ShowStatusBar1 = NewAction(Options1, "ShowStatusBar1", tr("Show Status Bar"), {});
    for (QAction* a : {ViewToolbar1, ViewSettings1, ShowStatusBar1}) a->setCheckable(true);

    Help1 = bar->addMenu(tr("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Index1 = NewAction(Help1, "Index1", tr("&Index"), QKeySequence(Qt::Key_F1));
    TipoftheDay1 = NewAction(Help1, "TipoftheDay1", tr("&Tip of the Day"), {});
    Help1->addSeparator();
    ProgramHomePage1 = NewAction(Help1, "ProgramHomePage1", tr("&Program Home Page"), {});
    About1 = NewAction(Help1, "About1", tr("&About"), {});

    // The list's pop-up menu. Its shortcuts that the main menu also has are
    // shown only (two actions with one key would cancel each other out);
    // Ctrl+L and Enter work while the list has the focus.
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    AddVideos2 = NewAction(PopupMenu1, "AddVideos2", tr("&Add Video(s)"), QKeySequence(Qt::Key_Insert));
    DeleteEntry2 = NewAction(PopupMenu1, "DeleteEntry2", tr("&Remove Video(s)"), QKeySequence(Qt::Key_Delete));
    ConvertVideos2 = NewAction(PopupMenu1, "ConvertVideos2", tr("&Convert Video(s)"), QKeySequence(Qt::Key_F2));
    PopupMenu1->addSeparator();
    StopConversion2 = NewAction(PopupMenu1, "StopConversion2", tr("Stop Conversion"), QKeySequence(Qt::CTRL | Qt::Key_T));
    StopAll2 = NewAction(PopupMenu1, "StopAll2", tr("Stop All"), QKeySequence(Qt::CTRL | Qt::Key_L));
    PopupMenu1->addSeparator();
    RenameVideo2 = NewAction(PopupMenu1, "RenameVideo2", tr("Rename Video"), QKeySequence(Qt::Key_F6));
    DeleteVideo2 = NewAction(PopupMenu1, "DeleteVideo2", tr("Delete Video"), QKeySequence(Qt::Key_F8));
    PopupMenu1->addSeparator();
    OpenOutputFolder2 = NewAction(PopupMenu1, "OpenOutputFolder2", tr("&Open Destination Folder"), {});
    PlayVideo2 = NewAction(PopupMenu1, "PlayVideo2", tr("&Play Video"), QKeySequence(Qt::Key_Enter));
    PlayVideo2->setShortcuts({QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
    for (QAction* a : {AddVideos2, DeleteEntry2, ConvertVideos2, StopConversion2, RenameVideo2, DeleteVideo2})
        a->setShortcutContext(Qt::WidgetShortcut);
    for (QAction* a : {StopAll2, PlayVideo2}) {
        a->setShortcutContext(Qt::WidgetShortcut);
        LVBook->addAction(a);
    }
}

void TFMain::SetUpStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    auto panel = [bar](QWidget* w, int width) {
        w->setFixedWidth(width);
        bar->addWidget(w);
    };
    StatusPanel0 = new QLabel(tr("F1 Help"), bar);
    StatusPanel0->setAlignment(Qt::AlignCenter);
    StatusPanel1 = new QLabel(bar);
    StatusPanel1->setAlignment(Qt::AlignCenter);
    for (QLabel* l : {StatusPanel0, StatusPanel1}) l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel(StatusPanel0, 70);
    panel(StatusPanel1, 120);
    StatusPanel2 = new QWidget(bar);
    panel(StatusPanel2, 170);
    auto* holder = new QHBoxLayout(StatusPanel2);
    holder->setContentsMargins(0, 1, 12, 1);
    ProgressBar = new QProgressBar(StatusPanel2);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setMaximumHeight(16);
    ProgressBar->hide();
    holder->addWidget(ProgressBar);
}

void TFMain::ApplyWindowGeometry(int width) {
    int w = WindowWidthFit(width);
    resize(w, WindowHeightForWidth(w));
}

// ---------------------------------------------------------------- start-up

void TFMain::FormCreate() {
    // The run's counters and flags are reset by SchedulerInit below.
    CommandGuard = false;
    ProgressOpen();
    Closing = false;
    FirstActivation = true;
    ApplyWindowGeometry(kDesignedWidth);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    CreateGuiCallWindow(WakeGuiThread, this);
    LVBook->lvdSetFullRow();
    SetUpStatusBar();
    EdDir->clear();
    for (int row = 0; row < kProfileCount && kProfiles[row].id != -1; ++row)
        CBVideoFor->addItem(QString::fromUtf8(kProfiles[row].name));
    // The names are longer than the box: the list that drops down shows them whole.
    CBVideoFor->view()->setMinimumWidth(CBVideoFor->view()->sizeHintForColumn(0) + 24);
    SetBusyState(false);

    // Finish the start-up.
    SettingsReset(settings_);
    SettingsLoad(settings_, settingsPath_);
    if (settings_.destFolder.empty() || !FolderExists(settings_.destFolder)) {
        settings_.destFolder = defaultDestFolder_;
        CreateFolderTree(settings_.destFolder);
    }
    if (updateCheck_) CheckForUpdate();
    ShowSettingsInWindow();
    SetToolbarVisible(settings_.showToolbar != 0);
    SetSettingsPanelVisible(settings_.showSettingsPanel != 0);
    SetStatusBarVisible(settings_.showStatusBar != 0);
    JobListChanged = false;
    store_ = JobStoreCreate();
    if (settings_.saveHistory) HistoryLoad(store_, historyPath_);

    JobLockCreate();
    SchedulerInit(this, store_, &settings_, converterPath_);
    UpdateCommandStates();
}

void TFMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Offscreen and some window managers never report an activation: the
    // first showing counts as one.
    if (FirstActivation) QMetaObject::invokeMethod(this, &TFMain::FormActivate, Qt::QueuedConnection);
}

void TFMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TFMain::FormActivate() {
    if (Closing) {
        if (isVisible()) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (!FirstActivation) return;
    FirstActivation = false;
    RefreshJobList();
    LVBook->setFocus();
    int count = JobCount(store_);
    if (count > 0) LVBook->lvdGoto(count - 1);
    ShowJobCount();
    if (settings_.showTipAtStart && tipAtStart_) ShowTipOfTheDay();
    if (!arguments_.empty()) AddCommandLineFiles(arguments_);
}

// ---------------------------------------------------------------- shut-down

bool TFMain::FormCloseQuery() {
    if (Closing || closeWithoutAsking_) return true;
    int n = CountLiveWorkers();
    if (n <= 0) return true;
    QString question = n == 1 ? tr("A conversion is still running.\n\nStop it and quit Movenna?")
                              : tr("%1 conversions are still running.\n\nStop them all and quit Movenna?").arg(n);
    return AppMessageBox(this, 33, Title(), question) == 1;
}

void TFMain::closeEvent(QCloseEvent* event) {
    if (adding_) {
        // The add loop is still using the list: close when it has finished.
        closeAfterAdding_ = true;
        event->ignore();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormDestroy();
    event->accept();
    // Told to stop: nothing else of the program may keep it running.
    if (closeWithoutAsking_) QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TFMain::CloseWithoutAsking() {
    closeWithoutAsking_ = true;
    // A dialog or menu over the window is answered as cancelled; its caller
    // returns before the window closes. Bounded: a box may refuse to close.
    for (int i = 0; i < 16; ++i) {
        QWidget* open = QApplication::activePopupWidget();
        if (open == nullptr) open = QApplication::activeModalWidget();
        if (open == nullptr || open == this) break;
        open->close();
    }
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TFMain::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    Closing = true;
    // Read now: releasing the scheduler below clears it.
    const bool powerOffNow = ShutdownPending && powerOff_;
    CloseHelp();

    // Workers still converting are asked to stop and waited for, so that no
    // thread touches a job while the list is cleaned up and released.
    if (store_ != nullptr) {
        if (CountLiveWorkers() > 0) StopAllConversionsNow();
        WaitForAllWorkersExited(store_);
    }
    JobLockClose();
    progressHideTimer_.stop();

    bool settingsFailed = !SettingsSave(settings_, settingsPath_);
    bool historyFailed = false;
    if (store_ != nullptr && JobListChanged) {
        for (int i = 0; i < JobCount(store_);) {
            ConversionJob* job = JobAt(store_, i);
            int16_t status = job->status.load();
            if (status <= Converting || status == Pending) ProgressRequestStop(job->progressSlot);
            if (status != Done) {
                job->status = Cancelled;
                // Never a file that a Done entry owns.
                DeletePartialOutput(store_, *job);
            }
            status = job->status.load();
            if (status == Cancelled || status == CancelledNotFound || status == ConvertError) {
                if (settings_.removeStopped) DeletePartialOutput(store_, *job);
                JobStoreRemove(store_, i);
                continue;
            }
            ++i;
        }
        if (settings_.saveHistory) historyFailed = !HistorySave(store_, historyPath_);
    }
    ReportSaveFailures(settingsFailed, historyFailed);

    SchedulerInit(nullptr, nullptr, nullptr, {});
    if (store_ != nullptr) {
        LVBook->OnLVFastDisplayShort = nullptr;
        LVBook->OnLVToolTip = nullptr;
        LVBook->lvdSetCount(0);
        JobStoreRelease(store_);
        store_ = nullptr;
    }
    CloseGuiCallWindow();
    ProgressClose();
    ProgressBar->hide();
    setAcceptDrops(false);
    if (powerOffNow) RequestPowerOff();
}

void TFMain::ReportSaveFailures(bool settingsFailed, bool historyFailed) {
    if (!settingsFailed && !historyFailed) return;
    if (closeWithoutAsking_) {
        // The session is ending: a message box would hold it up.
        if (settingsFailed) std::fprintf(stderr, "movenna: the settings could not be saved to %s\n", settingsPath_.c_str());
        if (historyFailed) std::fprintf(stderr, "movenna: the history could not be saved to %s\n", historyPath_.c_str());
        return;
    }
    QString text;
    if (settingsFailed)
        text += tr("Your settings could not be saved to\n%1\n\nThe changes made in this session are lost.")
                    .arg(QString::fromStdString(settingsPath_));
    if (historyFailed) {
        if (!text.isEmpty()) text += QStringLiteral("\n\n");
        text += tr("The list of converted videos could not be saved to\n%1")
                    .arg(QString::fromStdString(historyPath_));
    }
    AppMessageBox(this, 64, Title(), text);
}

bool TFMain::SaveSettingsFile() {
    if (SettingsSave(settings_, settingsPath_)) {
        settingsFailReported_ = false;
        return true;
    }
    // Told once; the next successful save clears it.
    if (!settingsFailReported_) {
        settingsFailReported_ = true;
        AppMessageBox(this, 64, Title(),
                      tr("Your settings could not be saved to\n%1\n\nCheck that the folder can be written to.")
                          .arg(QString::fromStdString(settingsPath_)));
    }
    return false;
}

void TFMain::CloseMainWindow() {
    // Called from a worker's completion: the close (which waits for the
    // workers) must not run inside it.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- state shown

void TFMain::SetBusyState(bool busy) {
    Busy = busy;
    if (busy) {
        progressHideTimer_.stop();
        Image1->hide();
        RxGIFAnimator1->show();
        RxGIFAnimator1->setEnabled(true);
        RxGIFAnimator1->start();
        StatusPanel1->setText(tr("Converting: %1").arg(CountLiveWorkers()));
    } else {
        RxGIFAnimator1->stop();
        RxGIFAnimator1->setEnabled(false);
        RxGIFAnimator1->hide();
        Image1->show();
        StatusPanel1->clear();
        if (!StopAllMark && !ProgressBar->isHidden()) {
            ProgressBar->setValue(100);
            progressHideTimer_.start();
        } else {
            progressHideTimer_.stop();
            ProgressBar->hide();
        }
        ShowJobCount();
    }
    UpdateCommandStates();
}

void TFMain::ShowJobCount() {
    if (store_ == nullptr || Busy) return;
    int n = JobCount(store_);
    StatusPanel1->setText(n == 1 ? tr("1 video") : tr("%1 videos").arg(n));
}

void TFMain::RefreshJobList() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    LVBook->lvdClearAll();
    int count = JobCount(store_);
    LVBook->lvdSetCount(count);
    if (count > 0) LVBook->lvdRedraw(count);
    LVBook->update();
    QApplication::restoreOverrideCursor();
}

void TFMain::ShowSettingsInWindow() {
    EdDir->setText(QString::fromStdString(settings_.destFolder));
    EdDir->setCursorPosition(0);
    CBVideoFor->setCurrentIndex(ProfileIndexById(settings_.profileId));
    CBVideoFor->setToolTip(CBVideoFor->currentText());
}

void TFMain::TakeSettingsFromWindow(int which) {
    // Workers read the live settings under the lock.
    JobLockGuard lock;
    if (which & 1) settings_.destFolder = EdDir->text().toStdString();
    if (which & 2) {
        if (CBVideoFor->currentIndex() < 0) CBVideoFor->setCurrentIndex(0);
        ProfileApplyDefaults(settings_, CBVideoFor->currentIndex());
        CBVideoFor->setToolTip(CBVideoFor->currentText());
    }
}

void TFMain::SetToolbarVisible(bool on) {
    ViewToolbar1->setChecked(on);
    PanelTop->setVisible(on);
    settings_.showToolbar = on ? 1 : 0;
}

void TFMain::SetSettingsPanelVisible(bool on) {
    ViewSettings1->setChecked(on);
    PanelSettings->setVisible(on);
    settings_.showSettingsPanel = on ? 1 : 0;
}

void TFMain::SetStatusBarVisible(bool on) {
    ShowStatusBar1->setChecked(on);
    statusBar()->setVisible(on);
    settings_.showStatusBar = on ? 1 : 0;
}

void TFMain::LVBookFastDisplay(LVDispItem& item) {
    if (Closing || store_ == nullptr || item.row < 0 || item.row >= JobCount(store_)) return;
    const ConversionJob& job = *JobAt(store_, item.row);
    if (item.mask & LVIF_TEXT) JobCellText(job, item.column, item.text);
    if ((item.mask & LVIF_IMAGE) && item.column == 0) item.image = JobImageIndex(job);
}

// ---------------------------------------------------------------- scheduler front end

void TFMain::ShowRunProgress(int active, int workers, int percent) {
    StatusPanel1->setText(QStringLiteral("%1 / %2  %3%").arg(active).arg(workers).arg(percent));
    ProgressBar->setValue(percent);
}

void TFMain::ShowJobRow(int position) { LVBook->lvdUpdate(position); }

bool TFMain::Ask(RunQuestion question, int count) {
    QString text;
    switch (question) {
    case RunQuestion::RetryCancelled:
        text = count == 1 ? tr("No video is ready to convert.\n\nOne conversion was cancelled earlier. Try it again?")
                          : tr("No video is ready to convert.\n\n%1 conversions were cancelled earlier. "
                               "Try them again?").arg(count);
        break;
    case RunQuestion::ShutdownAfter:
        text = tr("The computer will be shut down when the conversions have finished.\n\nStart the conversions?");
        break;
    case RunQuestion::StopOne:
        text = tr("Stop converting this video?");
        break;
    case RunQuestion::StopAll:
        text = count == 1 ? tr("Stop the conversion that is running?")
                          : tr("Stop all %1 conversions?").arg(count);
        break;
    }
    return AppMessageBox(this, 33, Title(), text) == 1;
}

bool TFMain::ConfirmRun(int count) {
    QString caption = count == 1 ? tr("Convert 1 video") : tr("Convert %1 videos").arg(count);
    AppSettings edited = settings_;
    if (!settingsDialog(edited, caption)) return false;
    JobLockGuard lock;
    settings_ = edited;
    return true;
}

void TFMain::SaveSettings() {
    SaveSettingsFile();
    ShowSettingsInWindow();
}

void TFMain::RunStarting() {
    progressHideTimer_.stop();
    ProgressBar->setValue(0);
    ProgressBar->show();
    BSelectDir->setEnabled(false);
    CBVideoFor->setEnabled(false);
    // Only the menu item: the tool-bar button and ">>" still open the settings.
    Settings1->setEnabled(false);
}

void TFMain::RunEnded() {
    BSelectDir->setEnabled(true);
    CBVideoFor->setEnabled(true);
    Settings1->setEnabled(true);
}

void TFMain::JobsRequeued() {
    RefreshJobList();
    ShowJobCount();
    int count = JobCount(store_);
    if (count > 0) LVBook->lvdGoto(count - 1);
}

int TFMain::FocusedJob() { return LVBook->lvdIndexFocused(); }

// ---------------------------------------------------------------- keys and events

bool TFMain::eventFilter(QObject* watched, QEvent* event) {
    // An open menu takes the keys before any window shortcut: F1 there
    // closes it and opens the help.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1 &&
        qobject_cast<QMenu*>(watched) != nullptr) {
        for (int i = 0; i < 8; ++i) {
            QWidget* popup = QApplication::activePopupWidget();
            if (popup == nullptr) break;
            popup->close();
        }
        static_cast<QMenu*>(watched)->close();
        QMetaObject::invokeMethod(this, &TFMain::ShowHelpIndex, Qt::QueuedConnection);
        return true;
    }
    if (watched == LVBook && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        constexpr auto kAll = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
        if (key->key() == Qt::Key_Home && (key->modifiers() & kAll) == kAll) {
            ApplyWindowGeometry(width());
            return true;
        }
        // After the list has moved its focus.
        QMetaObject::invokeMethod(this, &TFMain::UpdateCommandStates, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}
