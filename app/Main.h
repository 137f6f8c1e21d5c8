// TFMain: the program's main window. It owns the job list display, the
// commands, the adding of videos and the start-up and shut-down order, and it
// is the scheduler's front end.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/adding.h"
#include "converter/profiles.h"
#include "jobs/scheduler.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolBar;
class QToolButton;
class QWidget;
class TBusyAnimator;
class TListViewData;
struct JobStore;
struct LVDispItem;

// Where the window finds its programs and files. Empty fields take the
// program's own choice (beside the executable, or the user's folders); tests
// fill them so that they never touch real files.
struct TFMainSetup {
    std::string converterPath;      // movenna-convert
    std::string playerPath;         // movenna-player
    std::string dataFolder;         // folder of settings.dat and history.dat
    std::string defaultDestFolder;  // used when destFolder is empty or gone
    std::vector<std::string> arguments;  // files and folders to add at the first activation
    // What a real desktop session does besides the window; tests leave these
    // off so that they never reach the network, wait on a start-up dialog or
    // touch the machine's power (or replace the power-off backend first).
    bool updateCheck = false;  // look for a newer version at start-up
    bool tipAtStart = false;   // the tip of the day, when the settings ask for it
    bool powerOff = false;     // power off after a run that asked for it

};

// The commands whose enabling follows the focused entry and the busy state.
enum class Cmd : int {
    Play,             // PlayVideo1/2
    Rename,           // RenameVideo1/2
    Remove,           // DeleteEntry1/2
    RemoveButton,     // TBRemove
    DeleteVideo,      // DeleteVideo1/2
    StopOne,          // StopConversion1/2
    StopAll,          // StopAll1/2
    DeleteUnexisting, // DeleteUnExistingVideoEntries1
    Add,              // AddVideos1/2, TBAdd
    Convert,          // ConvertLocalVideo1, ConvertVideos2, TBConvert
    Count_
};
constexpr int kCmdCount = static_cast<int>(Cmd::Count_);
// For each command: enabled, disabled, or left as it is (nullopt).
using CommandStates = std::array<std::optional<bool>, kCmdCount>;
// The enabling rule. status is ignored without an entry.
CommandStates CommandStatesFor(bool hasEntry, int16_t status, bool busy);

// Moves a file without replacing an existing one, across file systems too.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// The open-file dialog's filter, in the "description|patterns|" form.
void BuildOpenFilter(std::string& filter);

class TFMain : public QMainWindow, public SchedulerFrontEnd {
    Q_OBJECT

public:
    explicit TFMain(const TFMainSetup& setup = {}, QWidget* parent = nullptr);
    ~TFMain() override;

    // Start-up and shut-down, in the order the program needs.
    void FormCreate();
    void FormActivate();
    bool FormCloseQuery();
    void FormDestroy();

    void ApplyWindowGeometry(int width);
    void SetUpStatusBar();
    void ShowJobCount();
    void RefreshJobList();
    void ShowSettingsInWindow();
    void TakeSettingsFromWindow(int which);
    void SetToolbarVisible(bool on);
    void SetSettingsPanelVisible(bool on);
    void SetStatusBarVisible(bool on);

    // Commands acting on the focused entry or the whole list.
    void PlayVideo();
    void RemoveEntry();
    void RenameVideo();
    void DeleteVideo();
    void DeleteUnexistingEntries();
    void OpenOutputFolder();
    void SettingsCommand();
    void BSelectDirClick();

    // Adding videos.
    AddOutcome AddVideoFile(const std::string& path);
    void AddDroppedFiles(const std::vector<std::string>& paths);
    void AddCommandLineFiles(const std::vector<std::string>& arguments);

    // SchedulerFrontEnd
    void SetBusyState(bool busy) override;
    void ShowRunProgress(int active, int workers, int percent) override;
    void ShowJobRow(int position) override;
    void UpdateCommandStates() override;
    bool Ask(RunQuestion question, int count) override;
    bool ConfirmRun(int count) override;
    void SaveSettings() override;
    void RunStarting() override;
    void RunEnded() override;
    void JobsRequeued() override;
    bool AddVideosByDialog() override;
    int FocusedJob() override;
    void CloseMainWindow() override;

    // The session ends or the program was told to stop: closes the open
    // dialogs and menus (as cancelled) and then the window, without the
    // question about running conversions; the clean-up is the usual one.
    void CloseWithoutAsking();

    // Hooks for the parts that live in their own units (tip, help, about,
    // home page, update check, power off); see Hooks.cpp.
    void ShowTipOfTheDay();
    void ShowHelpIndex();
    void CloseHelp();
    void ShowAbout();
    void OpenHomePage();
    void CheckForUpdate();
    void RequestPowerOff();

    // The program title: caption of the window and of every message.
    static QString Title();

    AppSettings& settings() { return settings_; }
    JobStore* store() const { return store_; }
    const std::string& settingsPath() const { return settingsPath_; }
    const std::string& historyPath() const { return historyPath_; }
    const std::string& converterPath() const { return converterPath_; }
    bool firstActivation() const { return FirstActivation; }
    bool addingFiles() const { return adding_; }
    // The buttons of the enabling rule, for every command.
    std::vector<QObject*> commandTargets(Cmd cmd) const;

    // The confirmation of a run (the settings dialog with its own caption);
    // replaceable so that tests can answer it.
    std::function<bool(AppSettings& settings, const QString& caption)> settingsDialog;

    // Components, named as in the window's design.
    QFrame* PanelTop;
    QToolBar* ToolBar1;
    QToolButton* TBAdd;
    QToolButton* TBRemove;
    QToolButton* TBConvert;
    QToolButton* TBOptions;
    QToolButton* TBHelp;
    QLabel* Image1;
    TBusyAnimator* RxGIFAnimator1;
    QFrame* Panel1;
    QFrame* PanelSettings;
    QLabel* LabelDir;
    QLineEdit* EdDir;
    QPushButton* BSelectDir;
    QLabel* LabelFormat;
    QComboBox* CBVideoFor;
    QPushButton* BVideoOptions;
    TListViewData* LVBook;
    QLabel* StatusPanel0;
    QLabel* StatusPanel1;
    QWidget* StatusPanel2;
    QProgressBar* ProgressBar;

    QMenu* File1;
    QMenu* Options1;
    QMenu* Help1;
    QMenu* PopupMenu1;
    QAction* AddVideos1;
    QAction* DeleteEntry1;
    QAction* ConvertLocalVideo1;
    QAction* StopConversion1;
    QAction* StopAll1;
    QAction* DeleteUnExistingVideoEntries1;
    QAction* RenameVideo1;
    QAction* DeleteVideo1;
    QAction* OpenOutputFolder1;
    QAction* PlayVideo1;
    QAction* Exit1;
    QAction* Settings1;
    QAction* ViewToolbar1;
    QAction* ViewSettings1;
    QAction* ShowStatusBar1;
    QAction* Index1;
    QAction* TipoftheDay1;
    QAction* ProgramHomePage1;
    QAction* About1;
    QAction* AddVideos2;
    QAction* DeleteEntry2;
    QAction* ConvertVideos2;
    QAction* StopConversion2;
    QAction* StopAll2;
    QAction* RenameVideo2;
    QAction* DeleteVideo2;
    QAction* OpenOutputFolder2;
    QAction* PlayVideo2;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWindow();
    void BuildMenus();
    void BuildToolBar();
    void BuildSettingsPanel();
    void BuildJobList();
    void ConnectCommands();
    QAction* NewAction(QMenu* menu, const char* name, const QString& caption, const QKeySequence& shortcut);

    void LVBookFastDisplay(LVDispItem& item);
    void RemoveListEntry(int index);
    void LVBookContextMenu(const QPoint& pos);
    void CBVideoForChange();
    void ShowListMenu(const QPoint& globalPos);

    // One added path of a drop or the command line: a folder is searched.
    void AddPath(const std::string& path);
    void BeginAdding();
    void EndAdding();
    void AddingProgress(const std::string& path);
    void RememberAddFolder(const std::string& path);
    void ReportSaveFailures(bool settingsFailed, bool historyFailed);
    bool SaveSettingsFile();

    std::string converterPath_;
    std::string playerPath_;
    std::string settingsPath_;
    std::string historyPath_;
    std::string defaultDestFolder_;
    std::vector<std::string> arguments_;
    bool updateCheck_ = false;
    bool tipAtStart_ = false;
    bool powerOff_ = false;
    // Closing because the session ends or the program was told to stop.
    bool closeWithoutAsking_ = false;

    AppSettings settings_;
    JobStore* store_ = nullptr;

    bool FirstActivation = true;
    bool CommandGuard = false;
    bool destroyed_ = false;
    bool settingsFailReported_ = false;

    // Adding in progress (the window repaints between files).
    bool adding_ = false;
    bool closeAfterAdding_ = false;
    int addedInBatch_ = 0;
    int refusedInBatch_ = 0;
    // The first refused files of the batch, each with the converter's words.
    std::vector<std::pair<std::string, std::string>> refusedFiles_;
    std::vector<std::string> unreadableFolders_;

    // Hides the full progress bar a moment after the end of a run.
    QTimer progressHideTimer_;
};

// The one main window, or nullptr.
extern TFMain* FMain;

// Has SIGTERM, SIGHUP and SIGINT close window through CloseWithoutAsking
// once the event loop runs; a second signal of the same kind then ends the
// program at once. With nullptr the signals are only caught, to be handed to
// the window given by a later call. false when they could not be caught.
bool InstallQuitSignals(TFMain* window);
