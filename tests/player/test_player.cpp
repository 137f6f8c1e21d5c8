#include "PlayerWindow.h"

#include <QFile>
#include <QLabel>
#include <QMediaPlayer>
#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Generous: this only bounds a hang, it measures nothing.
constexpr int kLoadWaitMs = 30000;

// Runs the event loop until done() holds or the time is up; returns done().
bool WaitUntil(const std::function<bool()>& done, int ms = kLoadWaitMs) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(20);
    return done();
}

class PlayerFixture : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // A clip of the given seconds from ffmpeg's synthetic sources.
    QString MakeClip(const QString& name, const QStringList& sources, int seconds = 1) {
        const QString path = dir.filePath(name);
        QStringList args{"-v", "error", "-y"};
        for (const QString& s : sources)
            args << "-f"
                 << "lavfi"
                 << "-i" << s;
        args << "-t" << QString::number(seconds) << path;
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", args);
        EXPECT_TRUE(ffmpeg.waitForFinished(60000));
        EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
        return path;
    }

    // Waits until the window knows the length or says why it cannot play.
    static void WaitForLoad(PlayerWindow& w) {
        ASSERT_TRUE(WaitUntil([&] { return w.Duration() > 0 || !w.ErrorText().isEmpty(); }));
    }

    QTemporaryDir dir;
};

TEST(PlayerTime, Texts) {
    struct TimeCase {
        qint64 ms;
        const char* text;
    };
    const TimeCase cases[] = {{0, "0:00"},        {999, "0:00"},        {61000, "1:01"},
                              {3599000, "59:59"}, {3600000, "1:00:00"}, {3723000, "1:02:03"},
                              {-5, "0:00"}};
    for (const TimeCase& c : cases)
        EXPECT_EQ(PlayerTimeText(c.ms), c.text) << c.ms;
}

TEST_F(PlayerFixture, PlaysAGeneratedClipOrSaysWhyNot) {
    const QString clip =
        MakeClip("clip.mp4", {"testsrc=size=160x120:rate=25", "sine=frequency=440"});
    PlayerWindow w;
    w.show();
    w.Open(clip);
    ASSERT_NO_FATAL_FAILURE(WaitForLoad(w));
    if (!w.ErrorText().isEmpty()) {
        // No usable back-end here: the window must say so plainly, in its page.
        EXPECT_EQ(w.pages->currentWidget(), w.message);
        EXPECT_EQ(w.message->text(), w.ErrorText());
        GTEST_SKIP() << "the media back-end cannot play here: " << w.ErrorText().toStdString();
    }
    EXPECT_GE(w.Duration(), 900);
    EXPECT_LE(w.Duration(), 1500);
    EXPECT_TRUE(w.TimeText().endsWith(" / 0:01")) << w.TimeText().toStdString();
    EXPECT_EQ(w.seekSlider->maximum(), static_cast<int>(w.Duration()));
    EXPECT_TRUE(w.windowTitle().startsWith("clip.mp4"));
}

// The play button, the keys and the slider, as a user works them. Picture
// only: a test machine has no sound device, and a sound that cannot start
// holds the whole stream.
TEST_F(PlayerFixture, PlayPauseAndSeek) {
    const QString clip =
        MakeClip("long.mp4", {"testsrc=size=160x120:rate=25"}, 12);
    PlayerWindow w;
    w.show();
    w.activateWindow();
    w.Open(clip);
    ASSERT_NO_FATAL_FAILURE(WaitForLoad(w));
    if (!w.ErrorText().isEmpty())
        GTEST_SKIP() << "the media back-end cannot play here: " << w.ErrorText().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return w.IsPlaying(); }));
    // Known once the stream runs.
    ASSERT_TRUE(WaitUntil([&] { return w.player->isSeekable(); }));

    QTest::mouseClick(w.playButton, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] {
        return w.player->playbackState() == QMediaPlayer::PausedState;
    }));
    EXPECT_FALSE(w.IsPlaying());

    // Paused, the keys still seek: five seconds on, then back.
    const qint64 before = w.player->position();
    QTest::keyClick(&w, Qt::Key_Right);
    ASSERT_TRUE(WaitUntil([&] { return w.player->position() >= before + 4000; }))
        << w.player->position();
    EXPECT_TRUE(WaitUntil([&] { return w.seekSlider->value() >= before + 4000; }));
    EXPECT_FALSE(w.IsPlaying());
    QTest::keyClick(&w, Qt::Key_Left);
    ASSERT_TRUE(WaitUntil([&] { return w.player->position() < before + 4000; }))
        << w.player->position();

    // Dragging the slider seeks where it is let go.
    w.seekSlider->setSliderDown(true);
    w.seekSlider->setSliderPosition(8000);
    w.seekSlider->setSliderDown(false);
    ASSERT_TRUE(WaitUntil([&] { return w.player->position() >= 7000; })) << w.player->position();

    QTest::keyClick(&w, Qt::Key_Space);
    ASSERT_TRUE(WaitUntil([&] { return w.IsPlaying(); }));
    QTest::mouseClick(w.playButton, Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return !w.IsPlaying(); }));
}

// At the end the window goes back to the start and keeps a picture there,
// paused, instead of a black one.
TEST_F(PlayerFixture, EndShowsTheFirstPicturePaused) {
    const QString clip = MakeClip("end.mp4", {"testsrc=size=160x120:rate=25"}, 1);
    PlayerWindow w;
    w.show();
    bool ended = false;
    QObject::connect(w.player, &QMediaPlayer::mediaStatusChanged, &w,
                     [&ended](QMediaPlayer::MediaStatus status) {
                         if (status == QMediaPlayer::EndOfMedia) ended = true;
                     });
    QVideoSink* sink = w.video->videoSink();
    ASSERT_NE(sink, nullptr);
    bool framesSeen = false;
    QObject::connect(sink, &QVideoSink::videoFrameChanged, &w,
                     [&framesSeen](const QVideoFrame& frame) { framesSeen |= frame.isValid(); });
    w.Open(clip);
    ASSERT_NO_FATAL_FAILURE(WaitForLoad(w));
    if (!w.ErrorText().isEmpty())
        GTEST_SKIP() << "the media back-end cannot play here: " << w.ErrorText().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return ended; }));
    if (!framesSeen) GTEST_SKIP() << "the media back-end gives no pictures here";

    ASSERT_TRUE(WaitUntil([&] {
        return w.player->playbackState() == QMediaPlayer::PausedState &&
               w.player->position() < 500;
    })) << w.player->playbackState() << " " << w.player->position();
    EXPECT_TRUE(WaitUntil([&] { return sink->videoFrame().isValid(); }));
    EXPECT_EQ(w.pages->currentWidget(), w.video);
    EXPECT_TRUE(w.playButton->isEnabled());
    // Play again from the start.
    QTest::mouseClick(w.playButton, Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return w.IsPlaying(); }));
}

TEST_F(PlayerFixture, MissingFileIsReportedInTheWindow) {
    PlayerWindow w;
    QSignalSpy failed(&w, &PlayerWindow::failed);
    const QString missing = dir.filePath("no such video.mp4");
    EXPECT_FALSE(w.Open(missing));
    EXPECT_TRUE(w.ErrorText().contains("cannot be found"));
    EXPECT_TRUE(w.ErrorText().contains(missing));
    EXPECT_EQ(w.pages->currentWidget(), w.message);
    EXPECT_EQ(w.message->text(), w.ErrorText());
    EXPECT_EQ(failed.count(), 1);
    EXPECT_FALSE(w.playButton->isEnabled());
}

TEST_F(PlayerFixture, CtrlWAndCtrlQCloseTheWindow) {
    for (const Qt::Key key : {Qt::Key_W, Qt::Key_Q}) {
        PlayerWindow w;
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, key, Qt::ControlModifier);
        EXPECT_FALSE(w.isVisible()) << QKeySequence(key).toString().toStdString();
    }
}

TEST_F(PlayerFixture, FolderAndEmptyNameAreRefused) {
    PlayerWindow w;
    EXPECT_FALSE(w.Open(dir.path()));
    EXPECT_TRUE(w.ErrorText().contains("folder"));
    EXPECT_FALSE(w.Open(QString()));
    EXPECT_TRUE(w.ErrorText().contains("cannot be found"));
}

TEST_F(PlayerFixture, TextFileIsNotPlayed) {
    const QString path = dir.filePath("notes.mp4");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("These are notes, not a video.\n");
    f.close();
    PlayerWindow w;
    w.show();
    w.Open(path);
    ASSERT_TRUE(WaitUntil([&] { return !w.ErrorText().isEmpty(); }));
    EXPECT_TRUE(w.ErrorText().contains(path) || w.ErrorText().contains("back-end"))
        << w.ErrorText().toStdString();
    EXPECT_EQ(w.pages->currentWidget(), w.message);
    EXPECT_LE(w.Duration(), 0);
}

TEST_F(PlayerFixture, SoundOnlyFileSaysSo) {
    const QString clip = MakeClip("tone.wav", {"sine=frequency=440"});
    PlayerWindow w;
    w.show();
    w.Open(clip);
    ASSERT_NO_FATAL_FAILURE(WaitForLoad(w));
    if (!w.ErrorText().isEmpty()) GTEST_SKIP() << w.ErrorText().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return w.pages->currentWidget() == w.message; }));
    EXPECT_TRUE(w.message->text().contains("sound only"));
    EXPECT_TRUE(w.ErrorText().isEmpty());
}

} // namespace
