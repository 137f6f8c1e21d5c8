#include "ui/Shell.h"

#include "util/textutil.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>

#include <deque>

namespace {

// What the seams hold; all GUI-thread only.
struct Seams {
    bool messageBoxes = false;
    std::deque<int> messageAnswers;
    std::vector<ShellTest::Shown> messagesShown;
    bool fileDialogs = false;
    std::deque<std::optional<QStringList>> openFilesAnswers;
    std::deque<std::optional<QString>> folderAnswers;
    std::vector<ShellTest::Shown> dialogsShown;
    std::function<bool(const QUrl&)> openUrl;
};

Seams& seams() {
    static Seams s;
    return s;
}

bool OpenUrl(const QUrl& url) {
    if (seams().openUrl) return seams().openUrl(url);
    return QDesktopServices::openUrl(url);
}

QString LocalName(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

std::string LocalBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Opens an existing file or folder; false when there is none or the desktop refuses.
bool OpenLocal(const std::string& path) {
    if (path.empty()) return false;
    const QString name = LocalName(path);
    if (!QFileInfo::exists(name)) return false;
    return OpenUrl(QUrl::fromLocalFile(QFileInfo(name).absoluteFilePath()));
}

constexpr int kShellOk = 42;         // any value above 32 means done
constexpr int kShellNotFound = 2;

}  // namespace

int ShellOpen(QWidget* /*owner*/, const std::string& path) { return OpenLocal(path) ? kShellOk : kShellNotFound; }

int ShellOpenQuiet(QWidget* owner, const std::string& path) {
    ShellOpen(owner, path);
    return 1;
}

int ShellOpenVerb(QWidget* /*owner*/, const std::string& fileOrAddress) {
    static const QRegularExpression scheme("^[A-Za-z][A-Za-z0-9+.-]*:(//)?");
    const QString text = QString::fromStdString(fileOrAddress);
    if (!text.startsWith('/') && scheme.match(text).hasMatch()) {
        const QUrl url(text, QUrl::StrictMode);
        return url.isValid() && OpenUrl(url) ? 1 : 0;
    }
    return OpenLocal(fileOrAddress) ? 1 : 0;
}

int OpenFilesDialog(QWidget* owner, const QString& title, const std::string& initialFolder,
                    const std::vector<std::string>& nameFilters, int filterIndex, std::vector<std::string>& files,
                    int maxCount) {
    files.clear();
    QStringList filters;
    for (const std::string& f : nameFilters) filters << QString::fromStdString(f);
    const int pick = filterIndex >= 1 && filterIndex <= filters.size() ? filterIndex - 1 : 0;

    QStringList chosen;
    if (seams().fileDialogs) {
        seams().dialogsShown.push_back({.flags = 0,
                                        .title = title,
                                        .text = LocalName(initialFolder),
                                        .filters = filters,
                                        .filterIndex = filterIndex});
        std::optional<QStringList> answer;
        if (!seams().openFilesAnswers.empty()) {
            answer = seams().openFilesAnswers.front();
            seams().openFilesAnswers.pop_front();
        }
        if (!answer) return 0;
        chosen = *answer;
    } else {
        QString selected = filters.isEmpty() ? QString() : filters[pick];
        chosen = QFileDialog::getOpenFileNames(owner, title, LocalName(initialFolder), filters.join(";;"),
                                               &selected);
        if (chosen.isEmpty()) return 0;
    }
    for (const QString& c : chosen) {
        if (static_cast<int>(files.size()) >= maxCount) break;
        std::string path = LocalBytes(c);
        // A path the platform cannot use is left out rather than cut.
        if (path.empty() || path.size() > static_cast<size_t>(kPathMaxLen)) continue;
        files.push_back(std::move(path));
    }
    return 1;
}

int BrowseForFolder(QWidget* owner, const QString& title, int extraFlags, std::string& path) {
    QString chosen;
    if (seams().fileDialogs) {
        seams().dialogsShown.push_back({.flags = extraFlags, .title = title, .text = LocalName(path), .filters = {}, .filterIndex = 0});
        std::optional<QString> answer;
        if (!seams().folderAnswers.empty()) {
            answer = seams().folderAnswers.front();
            seams().folderAnswers.pop_front();
        }
        if (!answer) return 0;
        chosen = *answer;
    } else {
        chosen = QFileDialog::getExistingDirectory(owner, title, LocalName(path), QFileDialog::ShowDirsOnly);
    }
    if (chosen.isEmpty()) return 0;
    std::string folder = LocalBytes(chosen);
    if (folder.size() > static_cast<size_t>(kPathMaxLen)) return 0;
    path = std::move(folder);
    return 1;
}

int AppMessageBox(QWidget* parent, int flags, const QString& title, const QString& text) {
    // The formatted message of the program is at most 3999 characters.
    const QString message = text.left(3999);
    if (seams().messageBoxes) {
        seams().messagesShown.push_back({.flags = flags, .title = title, .text = message, .filters = {}, .filterIndex = 0});
        if (seams().messageAnswers.empty()) return 1;
        const int answer = seams().messageAnswers.front();
        seams().messageAnswers.pop_front();
        return answer;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & 0xF0) {
    case 0x10: icon = QMessageBox::Critical; break;
    case 0x20: icon = QMessageBox::Question; break;
    case 0x30: icon = QMessageBox::Warning; break;
    case 0x40: icon = QMessageBox::Information; break;
    default: break;
    }
    const bool withCancel = (flags & 0x0F) == 1;
    QMessageBox box(icon, title, message, QMessageBox::NoButton, parent);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* cancel = withCancel ? box.addButton(QMessageBox::Cancel) : nullptr;
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel != nullptr ? cancel : ok);
    box.exec();
    return box.clickedButton() == ok ? 1 : 2;
}

namespace ShellTest {

void EnableMessageBoxes(bool on) { seams().messageBoxes = on; }
void QueueMessageAnswer(int answer) { seams().messageAnswers.push_back(answer); }
const std::vector<Shown>& MessageBoxesShown() { return seams().messagesShown; }

void EnableFileDialogs(bool on) { seams().fileDialogs = on; }
void QueueOpenFiles(std::optional<QStringList> answer) { seams().openFilesAnswers.push_back(std::move(answer)); }
void QueueFolder(std::optional<QString> answer) { seams().folderAnswers.push_back(std::move(answer)); }
const std::vector<Shown>& FileDialogsShown() { return seams().dialogsShown; }

void SetOpenUrlHandler(std::function<bool(const QUrl&)> handler) { seams().openUrl = std::move(handler); }

void Reset() { seams() = Seams{}; }

}  // namespace ShellTest
