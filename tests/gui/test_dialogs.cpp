#include "ui/Br2disp.h"
#include "ui/Edit.h"
#include "ui/Help.h"
#include "ui/Shell.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Answers each prompt from a script: the text typed, then OK or Cancel.
struct PromptScript {
    struct Step {
        QString typed;
        bool ok;
    };
    std::vector<Step> steps = {};
    std::vector<QString> shownTexts = {};  // what the field held when the prompt opened

    void install() {
        TFEdit::answerForTests = [this](TFEdit& d) {
            shownTexts.push_back(d.EdString->text());
            const Step step = steps.at(shownTexts.size() - 1);
            d.EdString->setText(step.typed);
            return step.ok ? int(QDialog::Accepted) : int(QDialog::Rejected);
        };
    }
};

class PromptFixture : public ::testing::Test {
protected:
    void TearDown() override { TFEdit::answerForTests = nullptr; }
};

class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ShellTest::Reset();
        ShellTest::EnableMessageBoxes(true);
        ShellTest::EnableFileDialogs(true);
    }
    void TearDown() override { ShellTest::Reset(); }
};

}  // namespace

TEST(TFEdit, HasItsNamedControls) {
    TFEdit d;
    EXPECT_EQ(d.LBPrompt->objectName(), "LBPrompt");
    EXPECT_EQ(d.EdString->objectName(), "EdString");
    EXPECT_EQ(d.BOk->text(), "O&K");
    EXPECT_EQ(d.BCancel->text(), "&Cancel");
    EXPECT_TRUE(d.BOk->isDefault());
}

TEST_F(PromptFixture, ConfirmedTextIsCutToSizeMinusTwo) {
    PromptScript script{.steps = {{QString(300, 'x'), true}}};
    script.install();
    std::string text = "old name";
    EXPECT_TRUE(PromptForText("Rename", "New name:", 0, text, 250));
    EXPECT_EQ(text, std::string(248, 'x'));
    ASSERT_EQ(script.shownTexts.size(), 1u);
    EXPECT_EQ(script.shownTexts[0], "old name");
}

TEST_F(PromptFixture, CutNeverSplitsACharacter) {
    // "é" is two bytes: five of them are ten bytes, size 8 keeps six.
    PromptScript script{.steps = {{QString::fromUtf8("ééééé"), true}}};
    script.install();
    std::string text;
    EXPECT_TRUE(PromptForText("c", "p", 0, text, 9));
    EXPECT_EQ(text, "ééé");
}

TEST_F(PromptFixture, CancelLeavesTheTextAlone) {
    PromptScript script{.steps = {{"typed", false}}};
    script.install();
    std::string text = "keep";
    EXPECT_FALSE(PromptForText("c", "p", 0, text, 100));
    EXPECT_EQ(text, "keep");
}

TEST_F(PromptFixture, NonEmptyAsksAgainWithAnEmptyField) {
    PromptScript script{.steps = {{"", true}, {"", true}, {"final", true}}};
    script.install();
    std::string text = "job";
    EXPECT_TRUE(PromptForNonEmptyText("c", "p", 0, text, 100));
    EXPECT_EQ(text, "final");
    EXPECT_EQ(script.shownTexts, (std::vector<QString>{"job", "", ""}));
}

TEST_F(PromptFixture, NonEmptyCancelledAfterAnEmptyConfirmation) {
    PromptScript script{.steps = {{"", true}, {"ignored", false}}};
    script.install();
    std::string text = "job";
    EXPECT_FALSE(PromptForNonEmptyText("c", "p", 0, text, 100));
    // The first confirmation already emptied the text; Cancel keeps that.
    EXPECT_EQ(text, "");
    EXPECT_EQ(script.shownTexts.size(), 2u);
    EXPECT_FALSE(PromptForNonEmptyText("c", "p", 0, text, 2));
}

// The real modal dialog: Enter confirms through the default button, Escape cancels.
TEST_F(PromptFixture, EnterConfirmsAndEscapeCancels) {
    for (const bool enter : {true, false}) {
        QTimer::singleShot(0, [enter] {
            auto* d = qobject_cast<TFEdit*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            d->EdString->setText("typed");
            QTest::keyClick(d->EdString, enter ? Qt::Key_Return : Qt::Key_Escape);
        });
        std::string text = "before";
        EXPECT_EQ(PromptForText("c", "p", 0, text, 100), enter);
        EXPECT_EQ(text, enter ? "typed" : "before");
    }
}

// F1 in the rename prompt opens the help at its table of contents, and the
// help takes input although the prompt is modal.
TEST_F(PromptFixture, F1OpensTheHelpAtItsTableOfContents) {
    bool helpShown = false;
    QTimer::singleShot(0, [&helpShown] {
        auto* d = qobject_cast<TFEdit*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(d));
        QTest::keyClick(d->EdString, Qt::Key_F1);
        TFHelp* help = HelpWindow();
        ASSERT_NE(help, nullptr);
        helpShown = help->isVisible();
        EXPECT_EQ(help->CurrentPage(), "index.html");
        EXPECT_EQ(QApplication::activeModalWidget(), help);
        help->close();
        QTest::keyClick(d->EdString, Qt::Key_Escape);
    });
    std::string text = "name";
    EXPECT_FALSE(PromptForNonEmptyText("Rename", "New name:", 10, text, 250));
    EXPECT_TRUE(helpShown);
    HelpUninitialize();
}

TEST(WaitMessage, ShowsReplacesAndCloses) {
    EXPECT_EQ(FBR2Disp, nullptr);
    ShowWaitMessage("Movenna", "Checking for updates...");
    ASSERT_NE(FBR2Disp, nullptr);
    EXPECT_TRUE(FBR2Disp->isVisible());
    EXPECT_FALSE(FBR2Disp->isModal());
    EXPECT_EQ(FBR2Disp->windowTitle(), "Movenna");
    EXPECT_EQ(FBR2Disp->LBText->text(), "Checking for updates...");
    EXPECT_TRUE(FBR2Disp->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(FBR2Disp->windowFlags() & Qt::WindowCloseButtonHint);
    SetWaitText("Almost done");
    EXPECT_EQ(FBR2Disp->LBText->text(), "Almost done");
    CloseWaitMessage();
    EXPECT_EQ(FBR2Disp, nullptr);
    CloseWaitMessage();  // nothing to close: harmless
    SetWaitText("nobody listens");
}

TEST_F(ShellFixture, MessageBoxAnswersComeFromTheQueueAndTextsAreRecorded) {
    ShellTest::QueueMessageAnswer(2);
    EXPECT_EQ(AppMessageBox(nullptr, 33, "Movenna", "Stop 3 conversions?"), 2);
    EXPECT_EQ(AppMessageBox(nullptr, 64, "Movenna", "Done."), 1);
    const auto& shown = ShellTest::MessageBoxesShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].flags, 33);
    EXPECT_EQ(shown[0].title, "Movenna");
    EXPECT_EQ(shown[0].text, "Stop 3 conversions?");
    EXPECT_EQ(shown[1].text, "Done.");
    EXPECT_EQ(AppMessageBox(nullptr, 0, "t", QString(5000, 'm')), 1);
    EXPECT_EQ(shown[2].text.size(), 3999);
}

// The real boxes: buttons and icons by flags, results 1 and 2.
TEST(AppMessageBoxReal, FlagsChooseButtonsAndIcon) {
    struct Case {
        int flags;
        QMessageBox::Icon icon;
        bool cancel;
        bool pressCancel;
        int result;
    } cases[] = {
        {0, QMessageBox::NoIcon, false, false, 1},
        {64, QMessageBox::Information, false, false, 1},
        {33, QMessageBox::Question, true, false, 1},
        {33, QMessageBox::Question, true, true, 2},
    };
    for (const Case& c : cases) {
        QTimer::singleShot(0, [c] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->icon(), c.icon);
            EXPECT_EQ(box->button(QMessageBox::Cancel) != nullptr, c.cancel);
            EXPECT_EQ(box->text(), "Message");
            QTest::keyClick(box, c.pressCancel ? Qt::Key_Escape : Qt::Key_Return);
        });
        EXPECT_EQ(AppMessageBox(nullptr, c.flags, "Movenna", "Message"), c.result) << c.flags;
    }
}

TEST_F(ShellFixture, OpenFilesDialogKeepsOrderAndMaximum) {
    ShellTest::QueueOpenFiles(QStringList{"/v/a", "/v/b", "/v/c"});
    ShellTest::QueueOpenFiles(QStringList{"/v/one"});
    ShellTest::QueueOpenFiles(std::nullopt);
    ShellTest::QueueOpenFiles(QStringList{"/v/" + QString(5000, 'n'), "/v/ok"});
    std::vector<std::string> files;
    const std::vector<std::string> filters = {"Videos (*.avi *.AVI)", "All Files (*)"};
    EXPECT_EQ(OpenFilesDialog(nullptr, "Add", "/v", filters, 0, files, 2), 1);
    EXPECT_EQ(files, (std::vector<std::string>{"/v/a", "/v/b"}));
    EXPECT_EQ(OpenFilesDialog(nullptr, "Add", "/v", filters, 0, files, 1000), 1);
    EXPECT_EQ(files, std::vector<std::string>{"/v/one"});
    EXPECT_EQ(OpenFilesDialog(nullptr, "Add", "/v", filters, 0, files, 1000), 0);
    EXPECT_TRUE(files.empty());
    // A path the platform cannot use is left out, never cut.
    EXPECT_EQ(OpenFilesDialog(nullptr, "Add", "/v", filters, 0, files, 1000), 1);
    EXPECT_EQ(files, std::vector<std::string>{"/v/ok"});
    const auto& shown = ShellTest::FileDialogsShown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].title, "Add");
    EXPECT_EQ(shown[0].text, "/v");
    EXPECT_EQ(shown[0].filters, (QStringList{"Videos (*.avi *.AVI)", "All Files (*)"}));
}

TEST_F(ShellFixture, BrowseForFolderChangesThePathOnlyWhenConfirmed) {
    ShellTest::QueueFolder(std::nullopt);
    ShellTest::QueueFolder(QString("/chosen"));
    std::string path = "/start";
    EXPECT_EQ(BrowseForFolder(nullptr, "Destination", 0, path), 0);
    EXPECT_EQ(path, "/start");
    EXPECT_EQ(BrowseForFolder(nullptr, "Destination", 0, path), 1);
    EXPECT_EQ(path, "/chosen");
    EXPECT_EQ(ShellTest::FileDialogsShown().at(1).text, "/start");
}

TEST_F(ShellFixture, ShellOpenReportsMissingFilesAndAddresses) {
    std::vector<QUrl> opened;
    ShellTest::SetOpenUrlHandler([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    EXPECT_GT(ShellOpen(nullptr, "/tmp"), 32);
    EXPECT_EQ(ShellOpen(nullptr, "/no/such/file.avi"), 2);
    EXPECT_EQ(ShellOpen(nullptr, ""), 2);
    EXPECT_EQ(ShellOpenQuiet(nullptr, "/no/such/file.avi"), 1);
    EXPECT_EQ(ShellOpenVerb(nullptr, "https://example.org/download?x=1"), 1);
    EXPECT_EQ(ShellOpenVerb(nullptr, "/no/such/file"), 0);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile("/tmp"));
    EXPECT_EQ(opened[1].toString(), "https://example.org/download?x=1");

    ShellTest::SetOpenUrlHandler([](const QUrl&) { return false; });
    EXPECT_EQ(ShellOpen(nullptr, "/tmp"), 2);
    EXPECT_EQ(ShellOpenVerb(nullptr, "/tmp"), 0);
}
