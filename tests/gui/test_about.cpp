#include "ui/About.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <string>

namespace {

class AboutFixture : public ::testing::Test {
  protected:
    void TearDown() override { TFBAbout::answerForTests = nullptr; }
};

TEST(AboutText, HoldsVersionLicenceAndFfmpegLine) {
    const QString text = AboutText();
    EXPECT_TRUE(text.contains(QStringLiteral("Movenna " MOVENNA_VERSION))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("GPL-3.0-or-later")));
    const QString ffmpeg = FfmpegVersionLine();
    EXPECT_TRUE(text.contains(ffmpeg));
    // The machine that builds Movenna has ffmpeg on PATH.
    EXPECT_TRUE(ffmpeg.startsWith(QStringLiteral("ffmpeg version "))) << ffmpeg.toStdString();
    EXPECT_FALSE(ffmpeg.contains('\n'));
    EXPECT_LE(text.size(), 4000);
}

TEST(AboutText, FfmpegLookupBesideTheProgramFirstThenPath) {
    QTemporaryDir beside, onPath, empty;
    ASSERT_TRUE(beside.isValid() && onPath.isValid() && empty.isValid());
    auto makeScript = [](const QString& dir, const char* line) {
        QFile f(dir + "/ffmpeg");
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("#!/bin/sh\necho '") + line + "'\necho 'built with test'\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    makeScript(beside.path(), "ffmpeg version beside");
    makeScript(onPath.path(), "ffmpeg version onpath");
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
        EXPECT_EQ(FfmpegVersionLineOf(FindFfmpegFor(c.folder, c.path)), c.line)
            << c.folder << " | " << c.path;

    // A file named ffmpeg that cannot run, or says something else, is no ffmpeg.
    QFile plain(empty.path() + "/ffmpeg");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(FindFfmpegFor(e, ""), "");
    EXPECT_EQ(FfmpegVersionLineOf(e + "/ffmpeg"), "ffmpeg not found");
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
