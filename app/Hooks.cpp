// The window's links to the parts that live in their own units: tip of the
// day, help, about box, home page, update check and power off. Each is called
// from exactly one place of the window.
#include <QApplication>

#include "app/Main.h"
#include "net/update.h"
#include "ui/About.h"
#include "ui/Br2disp.h"
#include "ui/Help.h"
#include "ui/Shell.h"
#include "ui/Tip.h"
#include "util/browser.h"
#include "util/shutdown.h"

namespace {

// The update check's questions and wait message, shown by this window.
class WindowUpdateFrontEnd : public UpdateFrontEnd {
public:
    explicit WindowUpdateFrontEnd(QWidget* owner) : owner_(owner) {}
    void ShowWait() override {
        ShowWaitMessage(TFMain::Title(), QObject::tr("Looking for a newer version of Movenna..."));
    }
    void CloseWait() override { CloseWaitMessage(); }
    int Ask(const std::string& title, const std::string& question) override {
        return AppMessageBox(owner_, 33, QString::fromStdString(title), QString::fromStdString(question));
    }

private:
    QWidget* owner_;
};

int OpenWithDesktop(const std::string& address) { return ShellOpenVerb(nullptr, address); }

} // namespace

void TFMain::ShowTipOfTheDay() {
    TipTexts texts = MovennaTipTexts(settings_.showTipAtStart != 0);
    ::ShowTipOfTheDay(texts, kHelpContextMain);
    settings_.showTipAtStart = texts.showAtStart ? 1 : 0;
}

void TFMain::ShowHelpIndex() { ShowHelpContents(); }

void TFMain::CloseHelp() { HelpUninitialize(); }

void TFMain::ShowAbout() { ::ShowAbout(AboutCaption(), AboutText(), kHelpContextAbout); }

void TFMain::OpenHomePage() {
    SetShellOpenVerb(OpenWithDesktop);
    if (OpenUrlInBrowser(kDownloadPageUrl) == 0) {
        AppMessageBox(this, 64, Title(),
                      tr("No web browser could be started. The home page is:\n%1")
                          .arg(QString::fromLatin1(kDownloadPageUrl)));
    }
}

void TFMain::CheckForUpdate() {
    SetShellOpenVerb(OpenWithDesktop);
    WindowUpdateFrontEnd frontEnd(this);
    ::CheckForUpdate(kUpdateVersionUrl, kCurrentVersion, Title().toStdString(), kUpdateQuestion,
                     kDownloadPageUrl, settings_.updateCheckDay, kUpdateIntervalDays, frontEnd);
}

void TFMain::RequestPowerOff() {
    if (ExitWindowsRequest(kExitPowerOff) == 0) ExitWindowsRequest(kExitShutdown);
}
