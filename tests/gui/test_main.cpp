// The main window driven as a user would, with the scripted fake converter
// (or the real one for the end-to-end case) and a private data folder per test.
#include "app/Main.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QHelpEvent>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "converter/profiles.h"
#include "jobs/job.h"
#include "settings/Options.h"
#include "settings/datafiles.h"
#include "tests/fake/fake_log.h"
#include "ui/About.h"
#include "ui/Busy.h"
#include "ui/Edit.h"
#include "ui/Help.h"
#include "ui/Lvdata.h"
#include "ui/Shell.h"
#include "ui/Tip.h"
#include "util/shutdown.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string kFake = std::string(MOVENNA_BIN_DIR) + "/fake-convert";

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(2000);
    }
    return true;
}

void WriteFile(const fs::path& path, const std::string& content = "x") {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> MessageTexts() {
    std::vector<std::string> texts;
    for (const ShellTest::Shown& s : ShellTest::MessageBoxesShown()) texts.push_back(s.text.toStdString());
    return texts;
}

class MainTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/movenna-main-XXXXXX";
        root = mkdtemp(tmpl);
        data = root / "data";
        dest = root / "dest";
        media = root / "media";
        fs::create_directories(data);
        fs::create_directories(media);
        ShellTest::Reset();
        ShellTest::EnableMessageBoxes(true);
        ShellTest::EnableFileDialogs(true);
        for (const char* v : {"FAKE_CONVERT_SCRIPT", "FAKE_CONVERT_SCRIPT_FILE", "FAKE_CONVERT_COUNTER",
                              "FAKE_CONVERT_LOG"})
            unsetenv(v);
    }

    void TearDown() override {
        window.reset();
        ShellTest::Reset();
        TFEdit::answerForTests = nullptr;
        Busy = false;
        for (const char* v : {"FAKE_CONVERT_SCRIPT", "FAKE_CONVERT_COUNTER", "FAKE_CONVERT_LOG"}) unsetenv(v);
        fs::remove_all(root);
    }

    TFMainSetup Setup(std::vector<std::string> args = {}) {
        TFMainSetup s;
        s.converterPath = kFake;
        s.playerPath = kFake;
        s.dataFolder = data.string();
        s.defaultDestFolder = dest.string();
        s.arguments = std::move(args);
        return s;
    }

    // A window whose run confirmation answers `confirm` and records its caption.
    TFMain& Open(std::vector<std::string> args = {}, bool confirm = false) {
        window = std::make_unique<TFMain>(Setup(std::move(args)));
        window->settingsDialog = [this, confirm](AppSettings&, const QString& caption) {
            captions.push_back(caption);
            return confirm;
        };
        return *window;
    }

    // Conversions answer the script in turn after the probes (one call each).
    void Script(const std::string& script) {
        setenv("FAKE_CONVERT_COUNTER", (root / "counter").c_str(), 1);
        setenv("FAKE_CONVERT_SCRIPT", script.c_str(), 1);
    }

    ConversionJob* AddJob(int16_t status, const std::string& source, const std::string& output = {}) {
        ConversionJob* job = JobCreate(source);
        job->origin = 1;
        job->profileId = window->settings().profileId;
        job->status = status;
        job->displayName = JobNameFromSource(source);
        job->outputPath = output;
        job->duration = 60;
        JobStoreAppend(window->store(), job);
        window->RefreshJobList();
        return job;
    }

    int Count() const { return JobCount(window->store()); }
    int16_t StatusOf(int i) const { return JobAt(window->store(), i)->status.load(); }
    std::string Ext() const { return ProfileExtension(window->settings().profileId); }

    bool RunEnded() {
        return WaitUntil([] { return !Busy && WorkerCount.load() == 0; }) &&
               WaitUntil([this] { return window->BSelectDir->isEnabled(); });
    }

    fs::path root, data, dest, media;
    std::unique_ptr<TFMain> window;
    std::vector<QString> captions;
};

// ---------------------------------------------------------------- layout

TEST_F(MainTest, MenusCarryTheirCaptionsAndShortcuts) {
    TFMain& w = Open();
    struct Row {
        QAction* action;
        const char* name;
        const char* caption;
        const char* shortcut;
    };
    const Row rows[] = {
        {w.AddVideos1, "AddVideos1", "&Add Video Entry", "Ins"},
        {w.DeleteEntry1, "DeleteEntry1", "&Remove Video Entry", "Del"},
        {w.ConvertLocalVideo1, "ConvertLocalVideo1", "&Convert  Video(s)", "F2"},
        {w.StopConversion1, "StopConversion1", "&Stop Conversion", "Ctrl+T"},
        {w.StopAll1, "StopAll1", "Sto&p All", "Esc"},
        {w.DeleteUnExistingVideoEntries1, "DeleteUnExistingVideoEntries1",
         "Delete All Entries with &UnExisting Videos", ""},
        {w.RenameVideo1, "RenameVideo1", "&Rename Video", "F6"},
        {w.DeleteVideo1, "DeleteVideo1", "Delete &Video", "F8"},
        {w.OpenOutputFolder1, "OpenOutputFolder1", "&Open Destination Folder", ""},
        {w.PlayVideo1, "PlayVideo1", "&Play Video", ""},
        {w.Exit1, "Exit1", "&Exit", "Alt+F4"},
        {w.Settings1, "Settings1", "&Settings", "Ctrl+E"},
        {w.ViewToolbar1, "ViewToolbar1", "Show &Toolbar", ""},
        {w.ViewSettings1, "ViewSettings1", "Show &Main Settings", ""},
        {w.ShowStatusBar1, "ShowStatusBar1", "Show Status Bar", ""},
        {w.Index1, "Index1", "&Index", "F1"},
        {w.TipoftheDay1, "TipoftheDay1", "&Tip of the Day", ""},
        {w.ProgramHomePage1, "ProgramHomePage1", "&Program Home Page", ""},
        {w.About1, "About1", "&About", ""},
        {w.AddVideos2, "AddVideos2", "&Add Video(s)", "Ins"},
        {w.DeleteEntry2, "DeleteEntry2", "&Remove Video(s)", "Del"},
        {w.ConvertVideos2, "ConvertVideos2", "&Convert Video(s)", "F2"},
        {w.StopConversion2, "StopConversion2", "Stop Conversion", "Ctrl+T"},
        {w.StopAll2, "StopAll2", "Stop All", "Ctrl+L"},
        {w.RenameVideo2, "RenameVideo2", "Rename Video", "F6"},
        {w.DeleteVideo2, "DeleteVideo2", "Delete Video", "F8"},
        {w.OpenOutputFolder2, "OpenOutputFolder2", "&Open Destination Folder", ""},
        {w.PlayVideo2, "PlayVideo2", "&Play Video", "Enter"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.action->objectName().toStdString(), r.name);
        EXPECT_EQ(r.action->text().toStdString(), r.caption);
        EXPECT_EQ(r.action->shortcut().toString(QKeySequence::PortableText).toStdString(), r.shortcut);
    }
    EXPECT_EQ(w.windowTitle(), "Movenna");
    EXPECT_EQ(w.TBAdd->text(), "Add");
    EXPECT_EQ(w.TBAdd->toolTip(), "Add Videos to convert");
    EXPECT_EQ(w.TBRemove->toolTip(), "Remove videos from the list");
    EXPECT_EQ(w.TBConvert->toolTip(), "Convert Videos");
    EXPECT_EQ(w.TBOptions->text(), "Settings");
    EXPECT_EQ(w.TBHelp->text(), "Help");
    EXPECT_EQ(w.StatusPanel0->text(), "F1 Help");
    EXPECT_TRUE(w.EdDir->isReadOnly());
    EXPECT_TRUE(w.EdDir->font().bold());
    EXPECT_EQ(w.CBVideoFor->count(), kProfileCount);
    EXPECT_EQ(w.ProgressBar->maximum(), 100);
    EXPECT_TRUE(w.ProgressBar->isHidden());
    EXPECT_FALSE(w.Image1->isHidden());
    EXPECT_TRUE(w.RxGIFAnimator1->isHidden());
}

TEST_F(MainTest, WindowSizeFollowsTheWidthRule) {
    TFMain& w = Open();
    EXPECT_EQ(w.size(), QSize(649, 486));
    const struct {
        int width;
        QSize size;
    } cases[] = {{300, {400, 300}}, {2000, {1600, 1200}}, {649, {649, 486}}};
    for (const auto& c : cases) {
        w.ApplyWindowGeometry(c.width);
        EXPECT_EQ(w.size(), c.size) << c.width;
    }
    w.resize(1700, 500);
    QTest::keyClick(w.LVBook, Qt::Key_Home, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.size(), QSize(1600, 1200));
}

// ---------------------------------------------------------------- enabling

TEST_F(MainTest, EnablingFollowsFocusedStatusAndBusy) {
    TFMain& w = Open();
    // Empty list: the entry commands are off, Add and Convert stay on.
    w.UpdateCommandStates();
    for (QAction* a : {w.PlayVideo1, w.PlayVideo2, w.RenameVideo1, w.RenameVideo2, w.DeleteEntry1,
                       w.DeleteEntry2, w.DeleteVideo1, w.DeleteVideo2, w.StopConversion1, w.StopConversion2,
                       w.StopAll1, w.StopAll2, w.DeleteUnExistingVideoEntries1})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    for (QAction* a : {w.AddVideos1, w.AddVideos2, w.ConvertLocalVideo1, w.ConvertVideos2})
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();

    // play/rename, remove/delete (+ delete unexisting), stop one, stop all, add/convert/TBRemove
    struct Row {
        int16_t status;
        bool busy;
        bool play, remove, stopOne, stopAll, add;
    };
    const Row table[] = {
        {Starting, false, false, false, false, false, true},
        {Starting, true, false, false, true, true, false},
        {NotFound, false, false, false, false, false, true},
        {NotFound, true, false, false, true, true, false},
        {Converting, false, false, false, false, false, true},
        {Converting, true, false, false, true, true, false},
        {Done, false, true, true, false, false, true},
        {Done, true, true, false, false, true, false},
        {Cancelled, false, false, true, false, false, true},
        {Cancelled, true, false, false, false, true, false},
        {CancelledNotFound, false, false, true, false, false, true},
        {CancelledNotFound, true, false, false, false, true, false},
        {ConvertError, false, false, true, false, false, true},
        {ConvertError, true, false, false, false, true, false},
        {Pending, false, false, false, false, false, true},
        {Pending, true, false, false, true, true, false},
        {Ready, false, true, true, false, false, true},
        {Ready, true, true, false, false, true, false},
    };
    ConversionJob* job = AddJob(Ready, (media / "a.avi").string());
    w.LVBook->lvdGoto(0);
    for (const Row& r : table) {
        SCOPED_TRACE(testing::Message() << "status " << r.status << " busy " << r.busy);
        job->status = r.status;
        Busy = r.busy;
        w.UpdateCommandStates();
        for (QAction* a : {w.PlayVideo1, w.PlayVideo2, w.RenameVideo1, w.RenameVideo2})
            EXPECT_EQ(a->isEnabled(), r.play) << a->objectName().toStdString();
        for (QAction* a : {w.DeleteEntry1, w.DeleteEntry2, w.DeleteVideo1, w.DeleteVideo2,
                           w.DeleteUnExistingVideoEntries1})
            EXPECT_EQ(a->isEnabled(), r.remove) << a->objectName().toStdString();
        for (QAction* a : {w.StopConversion1, w.StopConversion2})
            EXPECT_EQ(a->isEnabled(), r.stopOne) << a->objectName().toStdString();
        for (QAction* a : {w.StopAll1, w.StopAll2}) EXPECT_EQ(a->isEnabled(), r.stopAll) << a->objectName().toStdString();
        for (QAction* a : {w.AddVideos1, w.AddVideos2, w.ConvertLocalVideo1, w.ConvertVideos2})
            EXPECT_EQ(a->isEnabled(), r.add) << a->objectName().toStdString();
        for (QToolButton* b : {w.TBAdd, w.TBRemove, w.TBConvert}) EXPECT_EQ(b->isEnabled(), r.add);
        // Never disabled.
        for (QAction* a : {w.OpenOutputFolder1, w.OpenOutputFolder2, w.ViewToolbar1, w.Index1, w.About1})
            EXPECT_TRUE(a->isEnabled());
        EXPECT_TRUE(w.TBOptions->isEnabled());
        EXPECT_TRUE(w.TBHelp->isEnabled());
    }
    Busy = false;
}

// ---------------------------------------------------------------- adding

TEST_F(MainTest, CommandLineAddsFilesAndFoldersAtEveryDepthThenOffersARun) {
    WriteFile(media / "one.avi");
    WriteFile(media / "folder" / "two.mp4");
    WriteFile(media / "folder" / "notes.txt");
    WriteFile(media / "folder" / "deeper" / "deepest" / "three.MKV");
    WriteFile(media / "bad.avi", "fake-script:exit:-20");
    TFMain& w = Open({(media / "one.avi").string(), (media / "missing.avi").string(), (media / "bad.avi").string(),
                      (media / "folder").string()});
    ASSERT_TRUE(w.firstActivation());
    w.FormActivate();
    EXPECT_FALSE(w.firstActivation());
    ASSERT_EQ(Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(StatusOf(i), Ready);
    EXPECT_EQ(JobAt(w.store(), 0)->sourcePath, (media / "one.avi").string());
    EXPECT_EQ(JobAt(w.store(), 0)->duration, 60u);
    EXPECT_EQ(w.LVBook->lvdIndexFocused(), 2);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{(media / "bad.avi").string() + " Invalid video"});
    ASSERT_EQ(captions.size(), 1u);
    EXPECT_EQ(captions[0], "Convert 3 videos");
    EXPECT_EQ(w.settings().addFolder, media.string());
    // The run was declined: everything stays Ready and the window idle.
    EXPECT_FALSE(Busy);
    EXPECT_EQ(w.StatusPanel1->text(), "3 videos");
}

TEST_F(MainTest, DroppedFolderAddsEveryFileThenOpensTheSettingsDialog) {
    WriteFile(media / "drop" / "a.avi");
    WriteFile(media / "drop" / "b.mpg");
    WriteFile(media / "drop" / "sub" / "c.wmv");
    WriteFile(media / "drop" / "readme.doc");
    TFMain& w = Open();
    w.settingsDialog = [](AppSettings& s, const QString& caption) { return ShowSettingsDialog(s, caption); };
    QString dialogCaption;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<TFOptions*>(QApplication::activeModalWidget())) {
            dialogCaption = d->windowTitle();
            d->reject();
        }
    });
    poll.start(20);

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((media / "drop").string()))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window's handler: outside a real drag Qt routes drop
    // events only to the drag's current target.
    static_cast<QObject&>(w).event(&drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(WaitUntil([&] { return !dialogCaption.isEmpty(); }));
    EXPECT_EQ(Count(), 3);
    EXPECT_EQ(dialogCaption, "Convert 3 videos");
    EXPECT_EQ(StatusOf(0), Ready);
    // Cancelled: nothing started.
    EXPECT_FALSE(Busy);
    EXPECT_EQ(WorkerCount.load(), 0);
}

TEST_F(MainTest, DropsAreRefusedWhileBusyAndUnsupportedFilesAreSkipped) {
    WriteFile(media / "a.avi");
    WriteFile(media / "b.txt");
    TFMain& w = Open();
    Busy = true;
    w.AddDroppedFiles({(media / "a.avi").string()});
    EXPECT_EQ(Count(), 0);
    EXPECT_TRUE(captions.empty());
    Busy = false;
    AddJob(Ready, (media / "a.avi").string());
    w.AddDroppedFiles({(media / "b.txt").string()});
    EXPECT_EQ(Count(), 1);
    // The run is still offered for what is Ready.
    EXPECT_EQ(captions, std::vector<QString>{"Convert 1 video"});
}

TEST_F(MainTest, AddingByDialogUsesTheFilterAndRemembersTheFolder) {
    WriteFile(media / "x" / "one.avi");
    WriteFile(media / "x" / "two.anything");
    TFMain& w = Open();
    w.settings().addFolder.clear();
    ShellTest::QueueOpenFiles(QStringList{QString::fromStdString((media / "x" / "one.avi").string()),
                                          QString::fromStdString((media / "x" / "two.anything").string())});
    w.AddVideos1->trigger();
    // The dialog's files are not checked against the extension list.
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(w.settings().addFolder, (media / "x").string());
    ASSERT_EQ(ShellTest::FileDialogsShown().size(), 1u);
    const ShellTest::Shown& shown = ShellTest::FileDialogsShown()[0];
    ASSERT_FALSE(shown.filters.isEmpty());
    EXPECT_TRUE(shown.filters.first().startsWith("All supported files ("));
    EXPECT_TRUE(shown.filters.last().startsWith("All Files"));
    EXPECT_TRUE(captions.empty()); // Add alone starts nothing
    ShellTest::QueueOpenFiles(std::nullopt);
    EXPECT_FALSE(w.AddVideosByDialog());
}

// ---------------------------------------------------------------- runs

TEST_F(MainTest, RunWithStopAndStopAll) {
    for (const char* f : {"one.avi", "two.avi", "three.avi"}) WriteFile(media / f);
    // Three probes, then: stopped (its converter ends well: Cancelled), done,
    // stopped (its converter fails: Conversion Error).
    Script("duration:5|duration:5|duration:5|stopexit:0;progress:40;output:1000;hang|"
           "progress:100;output:2048|progress:20;output:500;hang");
    TFMain& w = Open({}, true);
    w.settings().maxConversions = 1;
    w.AddDroppedFiles({(media / "one.avi").string(), (media / "two.avi").string(), (media / "three.avi").string()});
    ASSERT_TRUE(WaitUntil([&] { return StatusOf(0) == Converting && Busy; }));
    EXPECT_EQ(StatusOf(1), Pending);
    EXPECT_FALSE(w.BSelectDir->isEnabled());
    EXPECT_FALSE(w.CBVideoFor->isEnabled());
    // The settings stay open to the tool-bar button and ">>", not to the menu.
    EXPECT_FALSE(w.Settings1->isEnabled());
    EXPECT_TRUE(w.TBOptions->isEnabled());
    EXPECT_TRUE(w.BVideoOptions->isEnabled());
    EXPECT_FALSE(w.ProgressBar->isHidden());
    EXPECT_FALSE(w.RxGIFAnimator1->isHidden());
    EXPECT_TRUE(w.Image1->isHidden());
    ASSERT_TRUE(WaitUntil([&] { return w.StatusPanel1->text().contains(" / "); }));
    EXPECT_TRUE(QRegularExpression("^1 / 3  \\d+%$").match(w.StatusPanel1->text()).hasMatch())
        << w.StatusPanel1->text().toStdString();

    // Its converter has taken its script (the next job's would otherwise race it).
    const fs::path firstOutput = dest / ("one" + Ext());
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(firstOutput) && fs::file_size(firstOutput) == 1000; }));
    w.LVBook->lvdGoto(0);
    w.UpdateCommandStates();
    ASSERT_TRUE(w.StopConversion1->isEnabled());
    EXPECT_FALSE(w.AddVideos1->isEnabled());
    w.StopConversion1->trigger();
    EXPECT_EQ(MessageTexts().back(), "Stop converting this video?");
    ASSERT_TRUE(WaitUntil([&] { return StatusOf(1) == Done; }));
    EXPECT_EQ(StatusOf(0), Cancelled);
    const fs::path thirdOutput = dest / ("three" + Ext());
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(thirdOutput) && fs::file_size(thirdOutput) == 500; }));
    w.UpdateCommandStates();
    ASSERT_TRUE(w.StopAll1->isEnabled());
    w.StopAll1->trigger();
    ASSERT_TRUE(RunEnded());
    EXPECT_EQ(StatusOf(2), ConvertError);
    EXPECT_FALSE(fs::exists(thirdOutput));  // a failed run leaves no partial file
    EXPECT_EQ(JobAt(w.store(), 1)->outputSize, 2048u);
    // Stop All: the bar goes at once, the window is idle again.
    EXPECT_TRUE(w.ProgressBar->isHidden());
    EXPECT_TRUE(w.RxGIFAnimator1->isHidden());
    EXPECT_FALSE(w.Image1->isHidden());
    EXPECT_EQ(w.StatusPanel1->text(), "3 videos");
    EXPECT_TRUE(w.Settings1->isEnabled());
    EXPECT_TRUE(w.CBVideoFor->isEnabled());
}

TEST_F(MainTest, ARunEndingNormallyFillsTheBarBeforeHidingIt) {
    WriteFile(media / "one.avi");
    TFMain& w = Open({}, true);
    w.AddDroppedFiles({(media / "one.avi").string()});
    ASSERT_TRUE(RunEnded());
    EXPECT_EQ(StatusOf(0), Done);
    EXPECT_EQ(w.ProgressBar->value(), 100);
    EXPECT_TRUE(WaitUntil([&] { return w.ProgressBar->isHidden(); }));
    EXPECT_EQ(JobAt(w.store(), 0)->outputPath, (dest / ("one" + Ext())).string());
}

TEST_F(MainTest, AFailedConversionSaysWhyOnItsStatus) {
    WriteFile(media / "one.avi");
    Script("duration:5|output:500;exit:3");
    TFMain& w = Open({}, true);
    w.AddDroppedFiles({(media / "one.avi").string()});
    ASSERT_TRUE(RunEnded());
    ASSERT_EQ(StatusOf(0), ConvertError);
    w.show();
    const auto tipAt = [&](int column) {
        const QRect cell = w.LVBook->visualRect(w.LVBook->model()->index(0, column));
        QHelpEvent help(QEvent::ToolTip, cell.center(), w.LVBook->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(w.LVBook->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tipAt(1), "");  // the duration fits its column: no tip
    EXPECT_EQ(tipAt(3), "the converter ended with code 3");
    QToolTip::hideText();
}

TEST_F(MainTest, ClosingWithRunningConversionsAsksAndCancelKeepsThemRunning) {
    for (const char* f : {"one.avi", "two.avi"}) WriteFile(media / f);
    Script("duration:5|duration:5|progress:10;output:500;hang");
    TFMain& w = Open({}, true);
    w.settings().maxConversions = 2;
    w.AddDroppedFiles({(media / "one.avi").string(), (media / "two.avi").string()});
    ASSERT_TRUE(WaitUntil([&] { return StatusOf(0) == Converting && StatusOf(1) == Converting; }));
    ShellTest::QueueMessageAnswer(2);
    EXPECT_FALSE(w.close());
    EXPECT_NE(MessageTexts().back().find("2 conversions are still running"), std::string::npos);
    EXPECT_FALSE(Closing);
    EXPECT_EQ(WorkerCount.load(), 2);
    EXPECT_TRUE(Busy);

    ShellTest::QueueMessageAnswer(1);
    EXPECT_TRUE(w.close());
    // The converters were stopped and waited for; the unfinished entries and
    // their partial files are gone.
    EXPECT_EQ(WorkerCount.load(), 0);
    EXPECT_EQ(w.store(), nullptr);
    EXPECT_FALSE(fs::exists(dest / ("one" + Ext())));
    JobStore* history = JobStoreCreate();
    EXPECT_TRUE(HistoryLoad(history, (data / kHistoryFileName).string()));
    EXPECT_EQ(JobCount(history), 0);
    JobStoreRelease(history);
}

// ---------------------------------------------------------------- commands on one entry

TEST_F(MainTest, RenameWithANameClashAddsANumber) {
    TFMain& w = Open();
    const fs::path old = dest / ("clip" + Ext());
    WriteFile(old, "converted");
    WriteFile(dest / ("holiday" + Ext()), "someone else's");
    AddJob(Done, (media / "clip.avi").string(), old.string());
    w.LVBook->lvdGoto(0);
    std::vector<std::string> typed = {"a/b", "holiday"};
    size_t asked = 0;
    TFEdit::answerForTests = [&](TFEdit& d) {
        d.EdString->setText(QString::fromStdString(typed.at(asked++)));
        return int(QDialog::Accepted);
    };
    w.RenameVideo1->trigger();
    EXPECT_EQ(asked, 2u); // a name with a slash is asked again
    const ConversionJob* job = JobAt(w.store(), 0);
    const fs::path renamed = dest / ("holiday(1)" + Ext());
    EXPECT_EQ(job->displayName, "holiday");
    EXPECT_EQ(job->outputPath, renamed.string());
    EXPECT_EQ(ReadAll(renamed), "converted");
    EXPECT_EQ(ReadAll(dest / ("holiday" + Ext())), "someone else's");
    EXPECT_FALSE(fs::exists(old));
}

TEST_F(MainTest, MoveNeverReplacesAFile) {
    WriteFile(root / "a", "a");
    WriteFile(root / "b", "b");
    EXPECT_FALSE(MoveFileNoReplace((root / "a").string(), (root / "b").string()));
    EXPECT_EQ(ReadAll(root / "b"), "b");
    EXPECT_TRUE(MoveFileNoReplace((root / "a").string(), (root / "c").string()));
    EXPECT_EQ(ReadAll(root / "c"), "a");
    EXPECT_FALSE(fs::exists(root / "a"));
}

TEST_F(MainTest, DeleteVideoDeletesOnlyADoneEntrysFile) {
    TFMain& w = Open();
    const fs::path done = dest / "done.mp4", cancelled = dest / "cancelled.mp4";
    WriteFile(done);
    WriteFile(cancelled);
    AddJob(Done, "/src/done.avi", done.string());
    AddJob(Cancelled, "/src/cancelled.avi", cancelled.string());
    AddJob(Done, "/src/gone.avi", (dest / "gone.mp4").string());
    AddJob(Converting, "/src/busy.avi");

    ShellTest::QueueMessageAnswer(2); // declined: nothing happens
    w.LVBook->lvdGoto(0);
    w.DeleteVideo();
    EXPECT_EQ(Count(), 4);
    EXPECT_TRUE(fs::exists(done));

    w.LVBook->lvdGoto(0);
    w.DeleteVideo();
    EXPECT_FALSE(fs::exists(done));
    ASSERT_EQ(Count(), 3);
    w.LVBook->lvdGoto(0);
    w.DeleteVideo();
    EXPECT_TRUE(fs::exists(cancelled));
    ASSERT_EQ(Count(), 2);
    const size_t shown = MessageTexts().size();
    w.LVBook->lvdGoto(0);
    w.DeleteVideo(); // its file was deleted elsewhere: removed without a message
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(MessageTexts().size(), shown + 1); // the question only
    w.LVBook->lvdGoto(0);
    w.DeleteVideo(); // converting: nothing
    EXPECT_EQ(Count(), 1);
    EXPECT_TRUE(JobListChanged);
}

TEST_F(MainTest, RemoveKeepsFilesAndMovesTheFocus) {
    TFMain& w = Open();
    const fs::path out = dest / "a.mp4";
    WriteFile(out);
    AddJob(Done, "/src/a.avi", out.string());
    AddJob(Ready, "/src/b.avi");
    AddJob(Ready, "/src/c.avi");
    w.LVBook->lvdGoto(2);
    w.DeleteEntry1->trigger();
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(w.LVBook->lvdIndexFocused(), 1);
    EXPECT_EQ(JobAt(w.store(), 1)->position, 1);
    w.LVBook->lvdGoto(0);
    w.RemoveEntry();
    EXPECT_TRUE(fs::exists(out));
    w.LVBook->lvdGoto(0);
    w.RemoveEntry();
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(w.LVBook->lvdIndexFocused(), -1);
    EXPECT_EQ(w.StatusPanel1->text(), "0 videos");

    AddJob(Converting, "/src/d.avi");
    w.LVBook->lvdGoto(0);
    w.RemoveEntry();
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(ShellTest::MessageBoxesShown().back().flags, 64);
}

TEST_F(MainTest, DeleteUnexistingEntriesKeepsEntriesWithTheirFile) {
    TFMain& w = Open();
    WriteFile(dest / "kept.mp4");
    AddJob(Done, "/src/gone.avi", (dest / "gone.mp4").string());
    AddJob(Done, "/src/kept.avi", (dest / "kept.mp4").string());
    AddJob(Ready, "/src/new.avi");
    w.DeleteUnExistingVideoEntries1->setEnabled(true);
    w.DeleteUnexistingEntries();
    EXPECT_EQ(MessageTexts().back(), "Remove all entries with unexisting videos ?");
    ASSERT_EQ(Count(), 1);
    EXPECT_EQ(JobAt(w.store(), 0)->sourcePath, "/src/kept.avi");
    EXPECT_EQ(w.LVBook->lvdIndexFocused(), 0);
}

TEST_F(MainTest, PlayUsesTheInternalPlayerOrTheDesktop) {
    TFMain& w = Open();
    const fs::path source = media / "source file.avi";
    WriteFile(source);
    AddJob(Ready, source.string());
    w.LVBook->lvdGoto(0);
    const fs::path log = root / "player.log";
    setenv("FAKE_CONVERT_LOG", log.c_str(), 1);
    w.settings().internalPlayer = 1;
    w.PlayVideo1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return ReadAll(log).find("end\n") != std::string::npos; }));
    const std::string logged = ReadAll(log);
    EXPECT_NE(logged.find("argc 2\n"), std::string::npos);
    EXPECT_NE(logged.find(source.string() + "\n"), std::string::npos);

    std::vector<QUrl> opened;
    ShellTest::SetOpenUrlHandler([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    w.settings().internalPlayer = 0;
    w.PlayVideo();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), source.string());

    fs::remove(source);
    w.PlayVideo();
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_NE(MessageTexts().back().find(source.string()), std::string::npos);
}

TEST_F(MainTest, ListKeysReachTheirCommands) {
    TFMain& w = Open();
    w.show();
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w)) GTEST_SKIP() << "the window cannot be activated here";
    const fs::path source = media / "a.avi";
    WriteFile(source);
    AddJob(Ready, source.string());
    w.LVBook->setFocus();
    w.LVBook->lvdGoto(0);
    w.UpdateCommandStates();
    std::vector<QUrl> opened;
    ShellTest::SetOpenUrlHandler([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    w.settings().internalPlayer = 0;
    QTest::keyClick(w.LVBook, Qt::Key_Return);
    EXPECT_EQ(opened.size(), 1u);
    // Del belongs to both menus: the main menu's item runs, once.
    ShellTest::QueueMessageAnswer(2);
    QTest::keyClick(w.LVBook, Qt::Key_Delete);
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_NE(MessageTexts()[0].find("Remove this video from the list?"), std::string::npos);
    EXPECT_EQ(Count(), 1);
}

// ---------------------------------------------------------------- exit and restart

TEST_F(MainTest, ExitKeepsOnlyDoneEntriesAndNeverDeletesADoneFile) {
    Open();
    const fs::path shared = dest / "shared.mp4", partial = dest / "partial.mp4";
    WriteFile(shared, "done");
    WriteFile(partial, "half");
    AddJob(Cancelled, "/src/old.avi", shared.string()); // its name was reused by the Done entry
    AddJob(Done, "/src/shared.avi", shared.string());
    AddJob(Cancelled, "/src/partial.avi", partial.string());
    AddJob(ConvertError, "/src/failed.avi");
    AddJob(Ready, "/src/ready.avi");
    JobListChanged = true;
    window.reset();
    EXPECT_EQ(ReadAll(shared), "done");
    EXPECT_FALSE(fs::exists(partial));
    JobStore* history = JobStoreCreate();
    ASSERT_TRUE(HistoryLoad(history, (data / kHistoryFileName).string()));
    ASSERT_EQ(JobCount(history), 1);
    EXPECT_EQ(JobAt(history, 0)->sourcePath, "/src/shared.avi");
    EXPECT_EQ(JobAt(history, 0)->status.load(), Done);
    JobStoreRelease(history);
}

TEST_F(MainTest, AnUnchangedListWritesNoHistory) {
    {
        JobStore* store = JobStoreCreate();
        for (int16_t status : {Done, Cancelled}) {
            ConversionJob* job = JobCreate("/src/" + std::to_string(status) + ".avi");
            job->status = status;
            JobStoreAppend(store, job);
        }
        ASSERT_TRUE(HistorySave(store, (data / kHistoryFileName).string()));
        JobStoreRelease(store);
    }
    const std::string before = ReadAll(data / kHistoryFileName);
    TFMain& w = Open();
    w.FormActivate();
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(w.LVBook->lvdIndexFocused(), 1);
    window.reset();
    EXPECT_EQ(ReadAll(data / kHistoryFileName), before);
}

TEST_F(MainTest, SettingsSurviveARestart) {
    TFMain& w = Open();
    EXPECT_TRUE(fs::is_directory(dest)); // the default destination was created
    EXPECT_EQ(w.EdDir->text().toStdString(), dest.string());
    const fs::path chosen = root / "chosen";
    fs::create_directories(chosen);
    ShellTest::QueueFolder(QString::fromStdString(chosen.string()));
    w.BSelectDir->click();
    w.CBVideoFor->setCurrentIndex(3);
    emit w.CBVideoFor->activated(3);
    w.ViewToolbar1->trigger();
    w.ShowStatusBar1->trigger();
    EXPECT_TRUE(w.PanelTop->isHidden());
    window.reset();

    TFMain& again = Open();
    EXPECT_EQ(again.settings().destFolder, chosen.string());
    EXPECT_EQ(again.EdDir->text().toStdString(), chosen.string());
    EXPECT_EQ(again.settings().profileId, kProfiles[3].id);
    EXPECT_EQ(again.CBVideoFor->currentIndex(), 3);
    EXPECT_FALSE(again.ViewToolbar1->isChecked());
    EXPECT_TRUE(again.PanelTop->isHidden());
    EXPECT_FALSE(again.ShowStatusBar1->isChecked());
    EXPECT_TRUE(again.statusBar()->isHidden());
    EXPECT_TRUE(again.ViewSettings1->isChecked());
    EXPECT_FALSE(again.PanelSettings->isHidden());

    // A destination that has gone is replaced by the default one.
    window.reset();
    fs::remove_all(chosen);
    TFMain& third = Open();
    EXPECT_EQ(third.settings().destFolder, dest.string());
}

TEST_F(MainTest, ASettingsFileThatCannotBeWrittenIsReportedOnce) {
    fs::create_directories(data / kSettingsFileName); // a folder where the file should be
    Open().SaveSettings();
    window->SaveSettings();
    EXPECT_EQ(MessageTexts().size(), 1u);
    window.reset();
    ASSERT_EQ(MessageTexts().size(), 2u);
    EXPECT_NE(MessageTexts().back().find((data / kSettingsFileName).string()), std::string::npos);
}

TEST_F(MainTest, PaintingAsksOnlyForVisibleCells) {
    TFMain& w = Open();
    for (int i = 0; i < 3000; ++i) {
        ConversionJob* job = JobCreate("/src/" + std::to_string(i) + ".avi");
        job->status = Ready;
        JobStoreAppend(w.store(), job);
    }
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.RefreshJobList();
    w.LVBook->resetCellRequests();
    w.LVBook->viewport()->repaint();
    EXPECT_GT(w.LVBook->cellRequests(), 0);
    EXPECT_LT(w.LVBook->cellRequests(), 3000);
}

// ---------------------------------------------------------------- the real converter

TEST_F(MainTest, ConvertsAGeneratedClipEndToEnd) {
    const fs::path clip = media / "testclip.mp4";
    const std::string make = "ffmpeg -v error -f lavfi -i testsrc=duration=1:size=160x120:rate=10 -y '" +
                             clip.string() + "' </dev/null";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "ffmpeg cannot generate the clip";
    TFMainSetup setup = Setup({clip.string()});
    setup.converterPath = std::string(MOVENNA_BIN_DIR) + "/movenna-convert";
    window = std::make_unique<TFMain>(setup);
    window->settingsDialog = [](AppSettings&, const QString&) { return true; };
    window->FormActivate();
    ASSERT_EQ(Count(), 1);
    EXPECT_EQ(JobAt(window->store(), 0)->duration, 1u);
    ASSERT_TRUE(WaitUntil([&] { return StatusOf(0) == Done || StatusOf(0) == ConvertError; }, 120000));
    ASSERT_TRUE(RunEnded());
    ASSERT_EQ(StatusOf(0), Done);
    const std::string out = JobAt(window->store(), 0)->outputPath;
    EXPECT_EQ(out, (dest / ("testclip" + Ext())).string());
    EXPECT_GT(fs::file_size(out), 0u);
    window.reset();
    JobStore* history = JobStoreCreate();
    ASSERT_TRUE(HistoryLoad(history, (data / kHistoryFileName).string()));
    ASSERT_EQ(JobCount(history), 1);
    EXPECT_EQ(JobAt(history, 0)->outputPath, out);
    JobStoreRelease(history);
}

// ---------------------------------------------------------------- refused files

// A stand-in converter that says something on stderr and ends as told.
std::string ScriptedConverter(const fs::path& folder, const std::string& body) {
    const fs::path path = folder / "converter.sh";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
}

TEST_F(MainTest, AnInvalidVideoShowsTheConvertersReasonBelowTheName) {
    const fs::path clip = media / "clip.avi";
    WriteFile(clip);
    const std::string said = "movenna-convert: " + clip.string() + ": not a usable video or audio file (Invalid data)";
    const struct {
        const char* name;
        std::string body;
        std::string message;
    } cases[] = {
        {"with a reason", "echo \"" + said + "\" >&2\necho >&2\nexit 236", clip.string() + " Invalid video\n" + said},
        {"silent", "exit 236", clip.string() + " Invalid video"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShellTest::Reset();
        ShellTest::EnableMessageBoxes(true);
        TFMainSetup setup = Setup();
        setup.converterPath = ScriptedConverter(root, c.body);
        window = std::make_unique<TFMain>(setup);
        window->AddDroppedFiles({clip.string()});
        EXPECT_EQ(Count(), 0);
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{c.message});
        window.reset();
    }
}

TEST_F(MainTest, FilesThatCouldNotBeExaminedAreNamed) {
    std::vector<std::string> files;
    for (int i = 1; i <= 7; ++i) {
        files.push_back((media / ("clip" + std::to_string(i) + ".avi")).string());
        WriteFile(files.back());
    }
    const struct {
        const char* name;
        bool converterThere;
        const char* reason;
    } cases[] = {
        {"no converter", false, ""},
        {"crashing converter", true, "something broke"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShellTest::Reset();
        ShellTest::EnableMessageBoxes(true);
        TFMainSetup setup = Setup();
        setup.converterPath = c.converterThere
                                  ? ScriptedConverter(root, std::string("echo '") + c.reason + "' >&2\nkill -SEGV $$")
                                  : (root / "no-converter").string();
        window = std::make_unique<TFMain>(setup);
        window->AddDroppedFiles(files);
        EXPECT_EQ(Count(), 0);
        ASSERT_EQ(MessageTexts().size(), 1u);
        const std::string text = MessageTexts()[0];
        EXPECT_EQ(text.rfind("7 file(s) could not be examined and were not added:", 0), 0u) << text;
        // The first five by name, each with the converter's words; the rest counted.
        std::string named;
        for (size_t i = 0; i < 5; ++i)
            named += "\n" + files[i] + (*c.reason != '\0' ? std::string("\n    ") + c.reason : std::string());
        EXPECT_NE(text.find(named + "\nand 2 more\n"), std::string::npos) << text;
        EXPECT_EQ(text.find(files[5]), std::string::npos) << text;
        EXPECT_NE(text.find(setup.converterPath), std::string::npos) << text;
        window.reset();
    }
}

// ---------------------------------------------------------------- help menu

TEST_F(MainTest, F1InsideAnOpenMenuClosesItAndOpensTheHelpContents) {
    TFMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    for (QMenu* menu : {w.File1, w.Options1, w.Help1, w.PopupMenu1}) {
        SCOPED_TRACE(menu->objectName().toStdString());
        HelpUninitialize();
        menu->popup(w.mapToGlobal(QPoint(20, 20)));
        ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
        QTest::keyClick(menu, Qt::Key_F1);
        ASSERT_TRUE(WaitUntil([] { return HelpWindow() != nullptr && HelpWindow()->isVisible(); }));
        EXPECT_FALSE(menu->isVisible());
        EXPECT_EQ(HelpWindow()->CurrentPage().toStdString(), HelpPages()[0].file);
    }
    // Any other key still belongs to the menu.
    HelpUninitialize();
    w.File1->popup(w.mapToGlobal(QPoint(20, 20)));
    ASSERT_TRUE(WaitUntil([&] { return w.File1->isVisible(); }));
    QTest::keyClick(w.File1, Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_TRUE(w.File1->isVisible());
    EXPECT_EQ(HelpWindow(), nullptr);
    w.File1->close();
}

TEST_F(MainTest, IndexAndTheHelpButtonOpenTheContents) {
    TFMain& w = Open();
    const std::function<void()> commands[] = {[&] { w.Index1->trigger(); }, [&] { w.TBHelp->click(); }};
    for (const auto& command : commands) {
        HelpUninitialize();
        command();
        ASSERT_NE(HelpWindow(), nullptr);
        EXPECT_TRUE(HelpWindow()->isVisible());
        EXPECT_EQ(HelpWindow()->CurrentPage().toStdString(), HelpPages()[0].file);
    }
    // Closing the window closes its help.
    window.reset();
    EXPECT_EQ(HelpWindow(), nullptr);
}

TEST_F(MainTest, TipOfTheDayWritesTheStartUpChoiceBack) {
    TFMain& w = Open();
    struct Reset {
        ~Reset() { TFTip::answerForTests = nullptr; }
    } reset;
    for (bool before : {true, false}) {
        SCOPED_TRACE(before);
        w.settings().showTipAtStart = before ? 1 : 0;
        bool shownChecked = !before;
        TFTip::answerForTests = [&](TFTip& tip) {
            shownChecked = tip.CBStartup->isChecked();
            tip.CBStartup->setChecked(!before);
            tip.BitBtnCloseClick();
        };
        w.TipoftheDay1->trigger();
        EXPECT_EQ(shownChecked, before);
        EXPECT_EQ(w.settings().showTipAtStart, before ? 0 : 1);
    }
    // Not at start-up unless asked for.
    TFTip::answerForTests = [](TFTip&) { ADD_FAILURE() << "tip shown at start-up"; };
    w.settings().showTipAtStart = 1;
    w.FormActivate();
}

TEST_F(MainTest, HomePageWithoutABrowserSaysSo) {
    TFMain& w = Open();
    // An empty desktop: no mimeapps.list anywhere, so no default browser.
    const fs::path empty = root / "xdg";
    fs::create_directories(empty);
    const char* vars[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"};
    std::vector<std::optional<std::string>> saved;
    for (const char* v : vars) {
        const char* value = getenv(v);
        saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        setenv(v, empty.c_str(), 1);
    }
    std::vector<QUrl> opened;
    ShellTest::SetOpenUrlHandler([&](const QUrl& url) {
        opened.push_back(url);
        return false;
    });
    w.ProgramHomePage1->trigger();
    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i]) setenv(vars[i], saved[i]->c_str(), 1);
        else unsetenv(vars[i]);
    }
    ASSERT_FALSE(MessageTexts().empty());
    EXPECT_EQ(MessageTexts().back().rfind("No web browser could be started. The home page is:\n", 0), 0u)
        << MessageTexts().back();
}

TEST_F(MainTest, AboutOpensTheAboutBox) {
    TFMain& w = Open();
    struct Reset {
        ~Reset() { TFBAbout::answerForTests = nullptr; }
    } reset;
    QString caption;
    TFBAbout::answerForTests = [&](TFBAbout& box) { caption = box.windowTitle(); };
    w.About1->trigger();
    EXPECT_EQ(caption, AboutCaption());
}

// ---------------------------------------------------------------- power off

class RecordingShutdown : public ShutdownBackend {
public:
    explicit RecordingShutdown(bool powerOffAccepted) : powerOffAccepted_(powerOffAccepted) {
        SetShutdownBackend(this);
    }
    ~RecordingShutdown() override { SetShutdownBackend(nullptr); }
    bool Request(ExitAction action, int flags) override {
        calls.push_back({action, flags});
        return action != ExitAction::PowerOff || powerOffAccepted_;
    }
    std::vector<std::pair<ExitAction, int>> calls;

private:
    bool powerOffAccepted_;
};

TEST_F(MainTest, ARunThatAskedForPowerOffClosesAndPowersOffOrShutsDown) {
    WriteFile(media / "one.avi");
    using Calls = std::vector<std::pair<ExitAction, int>>;
    const struct {
        bool powerOffAccepted;
        Calls calls;
    } cases[] = {
        {true, {{ExitAction::PowerOff, kExitPowerOff}}},
        {false, {{ExitAction::PowerOff, kExitPowerOff}, {ExitAction::Shutdown, kExitShutdown}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.powerOffAccepted);
        fs::remove(data / kHistoryFileName);
        RecordingShutdown backend(c.powerOffAccepted);
        TFMainSetup setup = Setup();
        setup.powerOff = true;
        window = std::make_unique<TFMain>(setup);
        window->settingsDialog = [](AppSettings&, const QString&) { return true; };
        window->settings().shutdownAfter = 1;
        window->AddDroppedFiles({(media / "one.avi").string()});
        EXPECT_NE(MessageTexts().back().find("The computer will be shut down"), std::string::npos);
        ASSERT_TRUE(WaitUntil([&] { return window->store() == nullptr; })) << "the window did not close";
        EXPECT_EQ(backend.calls, c.calls);
        window.reset();
        JobStore* history = JobStoreCreate();
        ASSERT_TRUE(HistoryLoad(history, (data / kHistoryFileName).string()));
        ASSERT_EQ(JobCount(history), 1);
        EXPECT_EQ(JobAt(history, 0)->status.load(), Done);
        JobStoreRelease(history);
    }
}

TEST_F(MainTest, WithoutPowerOffTheRunOnlyCloses) {
    WriteFile(media / "one.avi");
    RecordingShutdown backend(true);
    TFMain& w = Open({}, true);
    w.settings().shutdownAfter = 1;
    w.AddDroppedFiles({(media / "one.avi").string()});
    ASSERT_TRUE(WaitUntil([&] { return w.store() == nullptr; }));
    EXPECT_TRUE(backend.calls.empty());
}

// ---------------------------------------------------------------- told to stop

constexpr const char* kQuitChildVar = "MOVENNA_TEST_QUIT_CHILD";

// The other half of ASignalClosesTheWindowAndCleansUp, run in a process of
// its own: the window as the program runs it, with a conversion that hangs.
TEST(MainQuitSignalChild, WindowRunsUntilTold) {
    const char* dir = getenv(kQuitChildVar);
    if (dir == nullptr) GTEST_SKIP() << "started by MainTest.ASignalClosesTheWindowAndCleansUp";
    const fs::path root = dir;
    ShellTest::EnableMessageBoxes(true);
    TFMainSetup setup;
    setup.converterPath = kFake;
    setup.playerPath = kFake;
    setup.dataFolder = (root / "data").string();
    setup.defaultDestFolder = (root / "dest").string();
    auto* w = new TFMain(setup);
    w->settingsDialog = [](AppSettings&, const QString&) { return true; };
    const bool caught = InstallQuitSignals(w);
    w->show();
    w->AddDroppedFiles({(root / "media" / "one.avi").string()});
    const int code = caught ? QApplication::exec() : 5;
    const bool cleanedUp = w->store() == nullptr;
    delete w;
    std::fflush(nullptr);
    _exit(code == 0 && cleanedUp ? 0 : 3);
}

TEST_F(MainTest, ASignalClosesTheWindowAndCleansUp) {
    WriteFile(media / "one.avi");
    Script("duration:5|progress:10;output:500;hang");
    const fs::path log = root / "fake.log", childLog = root / "child.log";
    setenv("FAKE_CONVERT_LOG", log.c_str(), 1);
    setenv(kQuitChildVar, root.c_str(), 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, childLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=MainQuitSignalChild.WindowRunsUntilTold";
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    unsetenv(kQuitChildVar);
    ASSERT_EQ(spawned, 0);
    int status = 0;
    bool ended = false;
    auto childEnded = [&] {
        if (!ended && waitpid(pid, &status, WNOHANG) == pid) ended = true;
        return ended;
    };
    struct Reaper {
        pid_t pid;
        const bool& ended;
        ~Reaper() {
            if (!ended) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } reaper{pid, ended};

    // The conversion has written part of its output and hangs.
    fs::path partial;
    ASSERT_TRUE(WaitUntil([&] {
        if (childEnded()) return true;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dest, ec))
            if (entry.is_regular_file() && entry.file_size() == 500) partial = entry.path();
        return !partial.empty();
    }, 60000));
    ASSERT_FALSE(ended) << ReadAll(childLog);
    std::string channel;
    for (const FakeCall& call : ReadFakeLog(log.string()))
        for (size_t i = 0; i + 1 < call.argv.size(); ++i)
            if (call.argv[i] == "-brmap") channel = "/dev/shm/movenna-" + call.argv[i + 1];
    ASSERT_FALSE(channel.empty());
    EXPECT_TRUE(fs::exists(channel));

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_TRUE(WaitUntil(childEnded, 60000)) << ReadAll(childLog);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << ReadAll(childLog);
    EXPECT_EQ(WEXITSTATUS(status), 0) << ReadAll(childLog);
    EXPECT_FALSE(fs::exists(partial));
    EXPECT_FALSE(fs::exists(channel));
    JobStore* history = JobStoreCreate();
    EXPECT_TRUE(HistoryLoad(history, (data / kHistoryFileName).string()));
    EXPECT_EQ(JobCount(history), 0);
    JobStoreRelease(history);
}

} // namespace
