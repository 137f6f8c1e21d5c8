#include "ui/About.h"
#include "ui/Help.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

// Generous: this only bounds a hang, it measures nothing.
constexpr int kAnswerWaitMs = 60000;

bool WaitUntil(const std::function<bool()>& done, int ms = kAnswerWaitMs) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(10);
    return done();
}

// The answer AskFfmpegVersion gives for path, waited for.
QString AnswerFor(const std::string& path, int timeoutMs = kFfmpegAnswerMs) {
    std::optional<QString> answer;
    AskFfmpegVersion(path, nullptr, [&answer](const QString& line) { answer = line; }, timeoutMs);
    EXPECT_TRUE(WaitUntil([&answer] { return answer.has_value(); })) << path;
    return answer.value_or(QString());
}

void MakeScript(const QString& path, const QByteArray& body) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

class AboutFixture : public ::testing::Test {
  protected:
    void TearDown() override { TFBAbout::answerForTests = nullptr; }
};

TEST(AboutText, HoldsVersionLicenceAndFfmpegLine) {
    ForgetFfmpegVersionLine();
    // Asked for the first time, the text does not wait for ffmpeg.
    const QString first = AboutText();
    EXPECT_TRUE(first.contains(QStringLiteral("Movenna " MOVENNA_VERSION))) << first.toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("GPL-3.0-or-later")));
    EXPECT_TRUE(first.contains(FfmpegLookingText())) << first.toStdString();

    std::optional<QString> answer;
    RequestFfmpegVersionLine(nullptr, [&answer](const QString& line) { answer = line; });
    ASSERT_TRUE(WaitUntil([&answer] { return answer.has_value(); }));
    const QString ffmpeg = FfmpegVersionLine();
    EXPECT_EQ(*answer, ffmpeg);
    // The machine that builds Movenna has ffmpeg on PATH.
    EXPECT_TRUE(ffmpeg.startsWith(QStringLiteral("ffmpeg version "))) << ffmpeg.toStdString();
    EXPECT_FALSE(ffmpeg.contains('\n'));

    const QString text = AboutText();
    EXPECT_TRUE(text.contains(ffmpeg));
    EXPECT_FALSE(text.contains(FfmpegLookingText()));
    EXPECT_LE(text.size(), 4000);
    // Known now: a second request is answered at once.
    bool again = false;
    RequestFfmpegVersionLine(nullptr, [&again](const QString&) { again = true; });
    EXPECT_TRUE(again);
}

TEST(AboutText, FfmpegLookupBesideTheProgramFirstThenPath) {
    QTemporaryDir beside, onPath, empty;
    ASSERT_TRUE(beside.isValid() && onPath.isValid() && empty.isValid());
    MakeScript(beside.path() + "/ffmpeg",
               "echo 'ffmpeg version beside Copyright (c) 2000 the developers'\necho 'built with test'\n");
    MakeScript(onPath.path() + "/ffmpeg", "echo 'ffmpeg version onpath'\necho 'built with test'\n");
    const std::string b = beside.path().toStdString(), p = onPath.path().toStdString(),
                      e = empty.path().toStdString();

    struct LookupCase {
        std::string folder, path;
        QString line;
    };
    const LookupCase cases[] = {
        {b, p, "ffmpeg version beside"},  {e, e + ":" + p, "ffmpeg version onpath"},
        {"", p, "ffmpeg version onpath"}, {e, e, "ffmpeg not found"},
        {e, "", "ffmpeg not found"},
    };
    for (const LookupCase& c : cases)
        EXPECT_EQ(AnswerFor(FindFfmpegFor(c.folder, c.path)), c.line)
            << c.folder << " | " << c.path;

    // A file named ffmpeg that cannot run, or says something else, is no ffmpeg.
    QFile plain(empty.path() + "/ffmpeg");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(FindFfmpegFor(e, ""), "");
    EXPECT_EQ(AnswerFor(e + "/ffmpeg"), "ffmpeg not found");
    MakeScript(onPath.path() + "/other", "echo 'something else'\n");
    EXPECT_EQ(AnswerFor(p + "/other"), "ffmpeg not found");
}

// An ffmpeg that never answers: the caller goes on at once, and after the
// time given the answer is "not found", the program killed.
TEST(AboutText, AnFfmpegThatHangsDoesNotHoldTheWindow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = dir.path() + "/ffmpeg";
    MakeScript(script, "exec sleep 600\n");
    std::optional<QString> answer;
    AskFfmpegVersion(script.toStdString(), nullptr,
                     [&answer](const QString& line) { answer = line; }, 300);
    EXPECT_FALSE(answer.has_value());
    ASSERT_TRUE(WaitUntil([&answer] { return answer.has_value(); }));
    EXPECT_EQ(*answer, "ffmpeg not found");
}

// A box closed before the answer comes is not touched by it.
TEST(AboutText, AnswerForAnObjectThatIsGoneIsDropped) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MakeScript(dir.path() + "/ffmpeg", "sleep 0.2\necho 'ffmpeg version late'\n");
    bool called = false;
    {
        QObject context;
        AskFfmpegVersion((dir.path() + "/ffmpeg").toStdString(), &context,
                         [&called](const QString&) { called = true; });
    }
    std::optional<QString> control;
    AskFfmpegVersion((dir.path() + "/ffmpeg").toStdString(), nullptr,
                     [&control](const QString& line) { control = line; });
    ASSERT_TRUE(WaitUntil([&control] { return control.has_value(); }));
    EXPECT_EQ(*control, "ffmpeg version late");
    EXPECT_FALSE(called);
}

// The first About opens before ffmpeg has answered and fills the line in.
TEST_F(AboutFixture, BoxFillsInTheFfmpegLineWhenItArrives) {
    ForgetFfmpegVersionLine();
    const QString text = AboutText();
    ASSERT_TRUE(text.contains(FfmpegLookingText()));
    QString shown;
    TFBAbout::answerForTests = [&shown](TFBAbout& box) {
        EXPECT_TRUE(WaitUntil([&box] { return !box.Id1->text().contains(FfmpegLookingText()); }));
        shown = box.Id1->text();
    };
    ShowAbout(AboutCaption(), text, kHelpContextAbout);
    EXPECT_TRUE(shown.contains(QStringLiteral("Media engine: ffmpeg version "))) << shown.toStdString();
}

TEST_F(AboutFixture, F1OpensTheHelpAtItsTableOfContents) {
    bool helpShown = false;
    TFBAbout::answerForTests = [&helpShown](TFBAbout& box) {
        box.show();
        box.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
        QTest::keyClick(box.BitBtn1, Qt::Key_F1);
        ASSERT_NE(HelpWindow(), nullptr);
        helpShown = HelpWindow()->isVisible();
        EXPECT_EQ(HelpWindow()->CurrentPage(), "index.html");
    };
    ShowAbout(AboutCaption(), QStringLiteral("Movenna\ntext"), kHelpContextAbout);
    EXPECT_TRUE(helpShown);
    HelpUninitialize();
}

TEST_F(AboutFixture, BoxShowsCaptionAndTextAndGrowsWithLongLines) {
    int shortWidth = 0;
    TFBAbout::answerForTests = [&](TFBAbout& box) {
        EXPECT_EQ(box.windowTitle(), "About Movenna");
        EXPECT_EQ(box.Id1->text(), "Movenna\nshort");
        EXPECT_EQ(box.helpContext, 50);
        EXPECT_FALSE(box.Id1->wordWrap());
        shortWidth = box.sizeHint().width();
    };
    ShowAbout("About Movenna", "Movenna\nshort", 50);
    const QString longLine(300, QChar('x'));
    TFBAbout::answerForTests = [&](TFBAbout& box) {
        EXPECT_GT(box.sizeHint().width(), shortWidth + 300);
        EXPECT_EQ(box.Id1->text(), longLine);
    };
    ShowAbout("About Movenna", longLine, 50);
}

} // namespace
