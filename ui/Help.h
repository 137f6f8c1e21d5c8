// The program's help: HTML pages compiled into the program, shown in its own
// help window with a contents list, Back and Forward.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QUrl>
#include <span>

class QAction;
class QListWidget;
class QListWidgetItem;
class QTextBrowser;
class QWidget;

// Help contexts carried by the windows: the main window, its menus, the tip
// dialog and the settings dialog use 10; the about box 50.
constexpr int kHelpContextMain = 10;
constexpr int kHelpContextAbout = 50;

struct HelpPage {
    const char* file;  // name under the help resource folder
    const char* title; // the page's <title> and its line in the contents list
};

// Every page, in the order of the contents list; the first is the table of contents.
std::span<const HelpPage> HelpPages();
// qrc address of a page file ("index.html", "file-menu.html#stop").
QUrl HelpPageUrl(const QString& file);

class TFHelp : public QMainWindow {
    Q_OBJECT
  public:
    explicit TFHelp(QWidget* parent = nullptr);

    QListWidget* LBContents;
    QTextBrowser* HelpText;
    QAction* ActBack;
    QAction* ActForward;
    QAction* ActContents;
    QAction* ActClose;

    // Shows a page (a file of HelpPages, optionally with "#anchor").
    void OpenPage(const QString& file);
    // The file name of the page on display, without any anchor.
    QString CurrentPage() const;

  private:
    void SourceChanged(const QUrl& url);
    void ContentsClicked(QListWidgetItem* item);
};

// Registers the compiled-in pages and pictures (the resources live in a
// static library); safe to call any number of times.
void HelpEnsureResources();

// Creating and closing the help window (the program's start and end).
void HelpInitialize();
void HelpUninitialize();
// The help window, or null outside HelpInitialize / HelpUninitialize.
TFHelp* HelpWindow();

// The Index command, F1 and the Help button: the table of contents.
void ShowHelpContents();
// F1 in a window with a help context: the table of contents, whatever the
// context. Creates the window when HelpInitialize has not run.
void ShowHelp(int context);
// Makes F1 inside window open the help (see ShowHelp).
void InstallHelpKey(QWidget* window, int context);
