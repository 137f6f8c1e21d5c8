// Opening files and folders with the desktop, the open-file dialog, the
// folder picker and the program's message box, each with a seam through which
// tests answer without a user.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QUrl;
class QWidget;

// Open with the desktop's default program. ShellOpen returns a code above 32
// on success and 2 when the file or folder does not exist or cannot be
// opened; ShellOpenQuiet always returns 1. ShellOpenVerb also takes an
// address ("https://..."); it returns 1 on success, 0 on failure.
int ShellOpen(QWidget* owner, const std::string& path);
int ShellOpenQuiet(QWidget* owner, const std::string& path);
int ShellOpenVerb(QWidget* owner, const std::string& fileOrAddress);

// The multi-select open-file dialog. nameFilters are Qt's form (see
// FilterToNameFilters); filterIndex 1 picks the first, 0 also does. Fills
// files with at most maxCount full paths, in the dialog's order; returns 1
// when the user confirmed, 0 otherwise (files then empty).
int OpenFilesDialog(QWidget* owner, const QString& title, const std::string& initialFolder,
                    const std::vector<std::string>& nameFilters, int filterIndex, std::vector<std::string>& files,
                    int maxCount);

// The folder picker; path holds the initial folder and receives the chosen
// one. 1 when the user confirmed, 0 with path unchanged otherwise.
int BrowseForFolder(QWidget* owner, const QString& title, int extraFlags, std::string& path);

// Every message and question of the program. flags: 0 OK only, 33 OK and
// Cancel with the question icon, 64 OK with the information icon (16 and 48:
// the error and warning icons). Returns 1 for OK, 2 for Cancel; closing a
// question's window counts as Cancel.
int AppMessageBox(QWidget* parent, int flags, const QString& title, const QString& text);

// Test seams. While a seam is on, nothing is shown and no program is started.
namespace ShellTest {

// What a dialog or message box was asked to show.
struct Shown {
    int flags = 0;
    QString title;
    QString text;  // message text, or the dialog's initial folder
    QStringList filters;
    int filterIndex = 0;
};

// Message boxes: answers are taken from the queue in order; with the queue
// empty the answer is 1 (OK, the default button). Every box is recorded.
void EnableMessageBoxes(bool on);
void QueueMessageAnswer(int answer);
const std::vector<Shown>& MessageBoxesShown();

// File dialogs: the next answer of each kind, nullopt standing for Cancel.
// A dialog without a queued answer is cancelled.
void EnableFileDialogs(bool on);
void QueueOpenFiles(std::optional<QStringList> answer);
void QueueFolder(std::optional<QString> answer);
const std::vector<Shown>& FileDialogsShown();

// Opening with the desktop: the handler receives the address instead and its
// result stands for the desktop's.
void SetOpenUrlHandler(std::function<bool(const QUrl&)> handler);

// Turns every seam off and forgets queues and records.
void Reset();

}  // namespace ShellTest
