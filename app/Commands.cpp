// The window's commands: menus, tool bar, list keys, and the rule that
// enables them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <cerrno>
#include <cstdio>

#include "app/Main.h"
#include "converter/cmdline.h"
#include "converter/process.h"
#include "jobs/job.h"
#include "settings/Options.h"
#include "ui/Edit.h"
#include "ui/Lvdata.h"
#include "ui/Shell.h"
#include "util/files.h"
#include "util/textutil.h"

namespace {

constexpr int kHelpContext = 10;
// Room of the rename prompt, terminator included.
constexpr int kRenameBufSize = 250;

bool IsStoppable(int16_t s) { return (s >= Starting && s <= Converting) || s == Pending; }

// Entries that no conversion uses: they may be removed or deleted.
bool IsSettled(int16_t s) {
    return s == Done || s == Cancelled || s == CancelledNotFound || s == ConvertError || s == Ready;
}

bool FileExistsAt(const std::string& path) {
    struct stat st{};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

// Copies from into a new file to (never replacing one), then removes from.
bool CopyThenRemove(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st{};
    fstat(in, &st);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buf[64 * 1024];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    close(in);
    if (close(out) != 0) ok = false;
    if (!ok) {
        unlink(to.c_str());
        return false;
    }
    unlink(from.c_str());
    return true;
}

} // namespace

// Moves a file without ever replacing an existing one, also across file
// systems (the destination folder may be elsewhere than the old file).
bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    int err = errno;
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
        // A file system without the no-replace rename: a hard link refuses an
        // existing name just as well.
        if (link(from.c_str(), to.c_str()) == 0) {
            unlink(from.c_str());
            return true;
        }
        err = errno;
    }
    if (err == EXDEV || err == EPERM) return CopyThenRemove(from, to);
    return false;
}

CommandStates CommandStatesFor(bool hasEntry, int16_t s, bool busy) {
    CommandStates st{};
    auto set = [&st](Cmd c, bool on) { st[static_cast<size_t>(c)] = on; };
    if (!hasEntry) {
        // Add, Convert and the tool buttons keep their state.
        for (Cmd c : {Cmd::Play, Cmd::Rename, Cmd::Remove, Cmd::DeleteVideo, Cmd::StopOne, Cmd::StopAll,
                      Cmd::DeleteUnexisting})
            set(c, false);
        return st;
    }
    set(Cmd::Play, s == Done || s == Ready);
    set(Cmd::Rename, s == Done || s == Ready);
    set(Cmd::StopOne, busy && IsStoppable(s));
    set(Cmd::Add, !busy);
    set(Cmd::Convert, !busy);
    set(Cmd::RemoveButton, !busy);
    set(Cmd::StopAll, busy);
    const bool removable = !busy && IsSettled(s);
    set(Cmd::Remove, removable);
    set(Cmd::DeleteVideo, removable);
    set(Cmd::DeleteUnexisting, removable);
    return st;
}

std::vector<QObject*> TFMain::commandTargets(Cmd cmd) const {
    switch (cmd) {
    case Cmd::Play: return {PlayVideo1, PlayVideo2};
    case Cmd::Rename: return {RenameVideo1, RenameVideo2};
    case Cmd::Remove: return {DeleteEntry1, DeleteEntry2};
    case Cmd::RemoveButton: return {TBRemove};
    case Cmd::DeleteVideo: return {DeleteVideo1, DeleteVideo2};
    case Cmd::StopOne: return {StopConversion1, StopConversion2};
    case Cmd::StopAll: return {StopAll1, StopAll2};
    case Cmd::DeleteUnexisting: return {DeleteUnExistingVideoEntries1};
    case Cmd::Add: return {AddVideos1, AddVideos2, TBAdd};
    case Cmd::Convert: return {ConvertLocalVideo1, ConvertVideos2, TBConvert};
    case Cmd::Count_: break;
    }
    return {};
}

void TFMain::UpdateCommandStates() {
    if (CommandGuard) return;
    CommandGuard = true;
    int index = -1;
    if (store_ != nullptr && JobCount(store_) > 0) {
        index = LVBook->lvdIndexFocused();
        if (index != -1) IndexMove(&index, JobCount(store_), 2, 0);
    }
    const bool hasEntry = index != -1;
    const CommandStates states =
        CommandStatesFor(hasEntry, hasEntry ? JobAt(store_, index)->status.load() : int16_t{0}, Busy);
    for (int c = 0; c < kCmdCount; ++c) {
        const std::optional<bool>& on = states[static_cast<size_t>(c)];
        if (!on) continue;
        for (QObject* target : commandTargets(static_cast<Cmd>(c))) {
            if (auto* action = qobject_cast<QAction*>(target)) action->setEnabled(*on);
            else if (auto* widget = qobject_cast<QWidget*>(target)) widget->setEnabled(*on);
        }
    }
    CommandGuard = false;
}

void TFMain::ConnectCommands() {
    auto on = [this](QAction* action, auto fn) { connect(action, &QAction::triggered, this, fn); };
    for (QAction* a : {AddVideos1, AddVideos2}) on(a, [this] { AddVideosByDialog(); });
    for (QAction* a : {DeleteEntry1, DeleteEntry2}) on(a, &TFMain::RemoveEntry);
    for (QAction* a : {ConvertLocalVideo1, ConvertVideos2}) on(a, [] { ConvertCommand(); });
    for (QAction* a : {StopConversion1, StopConversion2}) on(a, [] { StopConversions(false); });
    for (QAction* a : {StopAll1, StopAll2}) on(a, [] { StopConversions(true); });
    on(DeleteUnExistingVideoEntries1, &TFMain::DeleteUnexistingEntries);
    for (QAction* a : {RenameVideo1, RenameVideo2}) on(a, &TFMain::RenameVideo);
    for (QAction* a : {DeleteVideo1, DeleteVideo2}) on(a, &TFMain::DeleteVideo);
    for (QAction* a : {OpenOutputFolder1, OpenOutputFolder2}) on(a, &TFMain::OpenOutputFolder);
    for (QAction* a : {PlayVideo1, PlayVideo2}) on(a, &TFMain::PlayVideo);
    on(Exit1, [this] { close(); });
    on(Settings1, &TFMain::SettingsCommand);
    connect(ViewToolbar1, &QAction::triggered, this, [this](bool checked) { SetToolbarVisible(checked); });
    connect(ViewSettings1, &QAction::triggered, this, [this](bool checked) { SetSettingsPanelVisible(checked); });
    connect(ShowStatusBar1, &QAction::triggered, this, [this](bool checked) { SetStatusBarVisible(checked); });
    on(Index1, &TFMain::ShowHelpIndex);
    on(TipoftheDay1, &TFMain::ShowTipOfTheDay);
    on(ProgramHomePage1, &TFMain::OpenHomePage);
    on(About1, &TFMain::ShowAbout);

    // The tool bar runs the menus' commands (disabled buttons do nothing).
    connect(TBAdd, &QToolButton::clicked, this, [this] { AddVideosByDialog(); });
    connect(TBRemove, &QToolButton::clicked, this, &TFMain::RemoveEntry);
    connect(TBConvert, &QToolButton::clicked, this, [] { ConvertCommand(); });
    connect(TBOptions, &QToolButton::clicked, this, &TFMain::SettingsCommand);
    connect(TBHelp, &QToolButton::clicked, this, &TFMain::ShowHelpIndex);
    connect(BSelectDir, &QPushButton::clicked, this, &TFMain::BSelectDirClick);
    connect(BVideoOptions, &QPushButton::clicked, this, &TFMain::SettingsCommand);
    // Only a choice of the user applies the profile's defaults.
    connect(CBVideoFor, &QComboBox::activated, this, &TFMain::CBVideoForChange);

    connect(LVBook, &QAbstractItemView::doubleClicked, this, &TFMain::PlayVideo);
    connect(LVBook, &QWidget::customContextMenuRequested, this, &TFMain::LVBookContextMenu);
    for (QMenu* menu : {File1, Options1, Help1, PopupMenu1}) {
        connect(menu, &QMenu::aboutToShow, this, &TFMain::UpdateCommandStates);
        menu->installEventFilter(this); // F1 while it is open
    }
    // After any command the enabling may have changed.
    for (QAction* a : findChildren<QAction*>())
        connect(a, &QAction::triggered, this, &TFMain::UpdateCommandStates, Qt::QueuedConnection);
}

void TFMain::LVBookContextMenu(const QPoint& pos) { ShowListMenu(LVBook->viewport()->mapToGlobal(pos)); }

void TFMain::ShowListMenu(const QPoint& globalPos) {
    UpdateCommandStates();
    PopupMenu1->popup(globalPos);
}

void TFMain::CBVideoForChange() { TakeSettingsFromWindow(2); }

void TFMain::BSelectDirClick() {
    std::string folder = EdDir->text().toStdString();
    if (folder.size() > static_cast<size_t>(kPathMaxLen)) folder.clear();
    if (BrowseForFolder(this, tr("Choose the folder for the converted videos"), 0, folder) != 1) return;
    EdDir->setText(QString::fromStdString(folder));
    EdDir->setCursorPosition(0);
    TakeSettingsFromWindow(1);
}

void TFMain::SettingsCommand() {
    AppSettings edited = settings_;
    if (!ShowSettingsDialog(edited, QString(), this)) return;
    {
        // A run may be reading the live settings.
        JobLockGuard lock;
        settings_ = edited;
    }
    SchedulerSettingsChanged();
    SaveSettingsFile();
    ShowSettingsInWindow();
}

void TFMain::OpenOutputFolder() { ShellOpenQuiet(this, settings_.destFolder); }

void TFMain::PlayVideo() {
    int index = LVBook->lvdIndexFocused();
    if (index < 0 || index >= JobCount(store_)) return;
    const ConversionJob& job = *JobAt(store_, index);
    int16_t status = job.status.load();
    std::string file;
    if (status == Done) file = job.outputPath;
    else if (status == Ready) file = job.sourcePath;
    else return;
    const QString shown = QString::fromStdString(file);
    if (!FileExistsAt(file)) {
        AppMessageBox(this, 64, Title(), tr("The video file cannot be found:\n%1").arg(shown));
        return;
    }
    if (settings_.internalPlayer) {
        CommandLine cmd;
        cmd.argv = {playerPath_, file};
        cmd.text = "\"" + playerPath_ + "\" \"" + file + "\"";
        if (ProcessLaunch(cmd) == 1) return;
        // No internal player: the desktop's own player is the next best.
    }
    if (ShellOpen(this, file) <= 32)
        AppMessageBox(this, 64, Title(), tr("No program could be found to play\n%1").arg(shown));
}

// Takes the entry out of the list and the view, focusing the one that
// moved into its place (or the new last one). Under the job lock.
void TFMain::RemoveListEntry(int index) {
    JobStoreRemove(store_, index);
    LVBook->lvdRemove(index);
    int count = JobCount(store_);
    IndexMove(&index, count, 2, 0);
    if (count > 0) LVBook->lvdGoto(index);
    ShowJobCount();
}

void TFMain::RemoveEntry() {
    if (Busy) return;
    int index = LVBook->lvdIndexFocused();
    if (index < 0 || index >= JobCount(store_)) return;
    if (!IsSettled(JobAt(store_, index)->status.load())) {
        AppMessageBox(this, 64, Title(), tr("This video is being converted and cannot be removed now."));
        return;
    }
    if (AppMessageBox(this, 33, Title(), tr("Remove this video from the list?\n\nNo file is deleted.")) != 1)
        return;
    WaitForAllWorkersExited(store_);
    JobListChanged = true;
    JobLockGuard lock;
    RemoveListEntry(index);
}

void TFMain::DeleteVideo() {
    if (Busy) return;
    int index = LVBook->lvdIndexFocused();
    if (index < 0 || index >= JobCount(store_)) return;
    ConversionJob* job = JobAt(store_, index);
    int16_t status = job->status.load();
    if (!IsSettled(status)) return;
    const QString question =
        status == Done ? tr("Delete the converted video\n%1\nand remove it from the list?")
                             .arg(QString::fromStdString(job->outputPath))
                       : tr("Remove this video from the list?\n\nIt has no converted file, so no file is deleted.");
    if (AppMessageBox(this, 33, Title(), question) != 1) return;
    WaitForAllWorkersExited(store_);
    JobLockGuard lock;
    if (status == Done && FileExistsAt(job->outputPath) && unlink(job->outputPath.c_str()) != 0 &&
        errno != ENOENT) {
        AppMessageBox(this, 64, Title(),
                      tr("The converted video could not be deleted:\n%1").arg(QString::fromStdString(job->outputPath)));
        return;
    }
    JobListChanged = true;
    RemoveListEntry(index);
}

void TFMain::RenameVideo() {
    int index = LVBook->lvdIndexFocused();
    if (index < 0 || index >= JobCount(store_)) return;
    ConversionJob* job = JobAt(store_, index);
    if (job->status.load() != Done) return;
    std::string name = job->displayName.substr(0, kRenameBufSize - 1);
    for (;;) {
        if (!PromptForNonEmptyText(tr("Rename Video"), tr("New name of the converted video (without extension):"),
                                   kHelpContext, name, kRenameBufSize))
            return;
        // A name, not a path: it must stay in the destination folder.
        if (name.find('/') == std::string::npos && name != "." && name != "..") break;
        AppMessageBox(this, 64, Title(), tr("A name cannot contain \"/\" or be \".\" or \"..\"."));
    }
    JobListChanged = true;
    {
        JobLockGuard lock;
        job->displayName = name;
        std::string target;
        if (OutputPathForJob(target, settings_.destFolder, name, *job, store_) >= 0 && !target.empty() &&
            MoveFileNoReplace(job->outputPath, target))
            job->outputPath = target;
    }
    LVBook->lvdUpdate(index);
}

void TFMain::DeleteUnexistingEntries() {
    if (Busy) return;
    if (AppMessageBox(this, 33, Title(), tr("Remove all entries with unexisting videos ?")) != 1) return;
    WaitForAllWorkersExited(store_);
    {
        JobLockGuard lock;
        RemoveEntriesWithoutOutput(store_);
    }
    RefreshJobList();
    int count = JobCount(store_);
    if (count > 0) LVBook->lvdGoto(count - 1);
    ShowJobCount();
    JobListChanged = true;
    UpdateCommandStates();
}
