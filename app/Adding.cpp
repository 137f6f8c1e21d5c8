// Videos entering the list: the open-file dialog, drag and drop, and the
// command line.
#include <sys/stat.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>

#include <cstring>

#include "app/Main.h"
#include "jobs/job.h"
#include "ui/Lvdata.h"
#include "ui/Shell.h"
#include "util/files.h"
#include "util/textutil.h"

namespace {

constexpr int kMaxDialogFiles = 1000;
// Folders named in one "could not be read" message, files in one "could not
// be examined" message.
constexpr size_t kUnreadableShown = 5;
constexpr size_t kRefusedShown = 5;
// Longer words of the converter are cut for the message box.
constexpr qsizetype kReasonShownMax = 300;

QString ReasonShown(const std::string& reason) {
    QString text = QString::fromLocal8Bit(reason);
    if (text.size() > kReasonShownMax) text = text.left(kReasonShownMax) + QStringLiteral("...");
    return text;
}

std::string Translated(const char* text) { return QCoreApplication::translate("TFMain", text).toStdString(); }

std::vector<std::string> LocalPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    }
    return paths;
}

} // namespace

void BuildOpenFilter(std::string& filter) {
    filter.clear();
    FilterAddAll(filter, Translated(QT_TRANSLATE_NOOP("TFMain", "All supported files")), SupportedExtensions);
    FilterAddGroup(filter, Translated(QT_TRANSLATE_NOOP("TFMain", "Video Files")), VideoFileExtensions);
    FilterAddGroup(filter, Translated(QT_TRANSLATE_NOOP("TFMain", "Windows Media Files")), WindowsMediaExtensions);
    FilterAddGroup(filter, Translated(QT_TRANSLATE_NOOP("TFMain", "DVD Files")), DvdExtensions);
    FilterAddGroup(filter, Translated(QT_TRANSLATE_NOOP("TFMain", "Audio Files")), AudioFileExtensions);
    FilterAddGroup(filter, Translated(QT_TRANSLATE_NOOP("TFMain", "Real Media Files")), RealMediaExtensions);
    FilterAddGroup(filter, Translated(QT_TRANSLATE_NOOP("TFMain", "All Files")), "*");
}

AddOutcome TFMain::AddVideoFile(const std::string& path) {
    AddingProgress(path);
    std::string reason;
    AddOutcome outcome = ::AddVideoFile(store_, settings_, converterPath_, path, &reason);
    const QString shown = QString::fromStdString(path);
    switch (outcome) {
    case AddOutcome::Added: {
        ++addedInBatch_;
        JobListChanged = true;
        RefreshJobList();
        ShowJobCount();
        LVBook->setFocus();
        LVBook->lvdGoto(JobCount(store_) - 1);
        break;
    }
    case AddOutcome::InvalidVideo: {
        QString text = tr("%1 Invalid video").arg(shown);
        // The converter's own words, when it gave any.
        if (!reason.empty()) text += QStringLiteral("\n") + ReasonShown(reason);
        AppMessageBox(this, 0, Title(), text);
        break;
    }
    case AddOutcome::PathTooLong:
        AppMessageBox(this, 64, Title(), tr("This path is too long to be used:\n%1").arg(shown));
        break;
    case AddOutcome::Refused:
        ++refusedInBatch_;
        if (refusedFiles_.size() < kRefusedShown) refusedFiles_.emplace_back(path, reason);
        break;
    }
    return outcome;
}

void TFMain::AddingProgress(const std::string& path) {
    if (!adding_) return;
    QString name = QFileInfo(QString::fromStdString(path)).fileName();
    statusBar()->showMessage(addedInBatch_ == 1 ? tr("Examining %1 ...  (1 video added)").arg(name)
                                                : tr("Examining %1 ...  (%2 videos added)").arg(name).arg(addedInBatch_));
    // Keep painting between files; the user's input waits until the end.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFMain::BeginAdding() {
    adding_ = true;
    addedInBatch_ = 0;
    refusedInBatch_ = 0;
    refusedFiles_.clear();
    unreadableFolders_.clear();
    // A worker of the last run may still be a few steps from its end, and
    // the oldest entries can be dropped when the list is full.
    WaitForAllWorkersExited(store_);
}

void TFMain::EndAdding() {
    statusBar()->clearMessage();
    adding_ = false;
    if (refusedInBatch_ > 0) {
        QString list;
        for (const auto& [file, reason] : refusedFiles_) {
            list += QStringLiteral("\n") + QString::fromStdString(file);
            if (!reason.empty()) list += QStringLiteral("\n    ") + ReasonShown(reason);
        }
        const int more = refusedInBatch_ - static_cast<int>(refusedFiles_.size());
        if (more > 0) list += QStringLiteral("\n") + tr("and %1 more").arg(more);
        AppMessageBox(this, 64, Title(),
                      tr("%1 file(s) could not be examined and were not added:%2\n\n"
                         "Is the converter program missing or damaged?\n%3")
                          .arg(refusedInBatch_)
                          .arg(list, QString::fromStdString(converterPath_)));
    }
    refusedFiles_.clear();
    if (!unreadableFolders_.empty()) {
        QString list;
        for (size_t i = 0; i < unreadableFolders_.size() && i < kUnreadableShown; ++i)
            list += QStringLiteral("\n") + QString::fromStdString(unreadableFolders_[i]);
        if (unreadableFolders_.size() > kUnreadableShown) list += QStringLiteral("\n...");
        AppMessageBox(this, 64, Title(), tr("These folders could not be read and were skipped:%1").arg(list));
    }
    unreadableFolders_.clear();
    UpdateCommandStates();
}

void TFMain::RememberAddFolder(const std::string& path) {
    if (path.empty()) return;
    std::string folder;
    PathParentFolder(folder, path);
    settings_.addFolder = folder;
}

bool TFMain::AddVideosByDialog() {
    if (Busy || adding_) return false;
    if (settings_.addFolder.empty()) ProgramFolder(settings_.addFolder);
    std::string filter;
    BuildOpenFilter(filter);
    std::vector<std::string> files;
    if (OpenFilesDialog(this, tr("Add Videos"), settings_.addFolder, FilterToNameFilters(filter), 0, files,
                        kMaxDialogFiles) != 1)
        return false;
    BeginAdding();
    for (const std::string& file : files) {
        if (closeAfterAdding_) break;
        AddVideoFile(file);
    }
    if (!files.empty()) RememberAddFolder(files.back());
    EndAdding();
    if (closeAfterAdding_) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    return !files.empty();
}

void TFMain::AddPath(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return; // gone or never there: nothing to add
    if (S_ISDIR(st.st_mode)) {
        ScanFolderForVideos(
            path,
            [this](const std::string& file) {
                AddVideoFile(file);
                return !closeAfterAdding_;
            },
            [this](const std::string& folder, int) { unreadableFolders_.push_back(folder); });
    } else if (HasSupportedExtension(path)) {
        AddVideoFile(path);
    }
}

void TFMain::AddDroppedFiles(const std::vector<std::string>& paths) {
    if (Busy || adding_ || Closing) return;
    BeginAdding();
    for (const std::string& path : paths) {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (closeAfterAdding_) break;
        AddPath(path);
    }
    if (!paths.empty()) RememberAddFolder(paths.back());
    EndAdding();
    if (closeAfterAdding_) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    StartConversions();
}

void TFMain::AddCommandLineFiles(const std::vector<std::string>& arguments) {
    // Dropped paths and arguments are handled alike; a relative argument
    // names a file of the folder the program was started in.
    std::vector<std::string> paths;
    for (const std::string& arg : arguments)
        paths.push_back(arg.empty() ? arg : QFileInfo(QString::fromStdString(arg)).absoluteFilePath().toStdString());
    AddDroppedFiles(paths);
}

void TFMain::dragEnterEvent(QDragEnterEvent* event) {
    if (!Busy && !adding_ && !Closing && !LocalPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void TFMain::dragMoveEvent(QDragMoveEvent* event) {
    if (!Busy && !adding_ && !Closing) event->acceptProposedAction();
}

void TFMain::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths = LocalPaths(event->mimeData());
    if (Busy || adding_ || Closing || paths.empty()) return;
    event->acceptProposedAction();
    // Handled after the drop has finished, so that the program the files
    // came from does not wait while they are examined.
    QMetaObject::invokeMethod(this, [this, paths] { AddDroppedFiles(paths); }, Qt::QueuedConnection);
}
