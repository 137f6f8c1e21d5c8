#include "ui/Busy.h"
#include "ui/Icons.h"

#include <QImage>
#include <QPixmap>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Share of pixels that are not fully transparent.
double Coverage(const QIcon& icon, QSize size, qreal dpr) {
    QImage img = icon.pixmap(size, dpr).toImage().convertToFormat(QImage::Format_ARGB32);
    int drawn = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) drawn += qAlpha(img.pixel(x, y)) > 0;
    return img.isNull() ? 0.0 : double(drawn) / (img.width() * img.height());
}

}  // namespace

// Every picture is compiled in and draws something at 100 % and 200 %.
TEST(Icons, AllPicturesAreThereAtBothScales) {
    const QList<QIcon> list = ListImages();
    ASSERT_EQ(list.size(), 4);
    std::vector<std::pair<QIcon, QSize>> all;
    for (const QIcon& i : list) all.emplace_back(i, QSize(16, 16));
    for (const char* n : {"add", "remove", "convert", "settings", "help"}) {
        all.emplace_back(OwnToolbarIcon(n), QSize(24, 24));
        EXPECT_FALSE(ToolbarIcon(n).isNull()) << n;
    }
    all.emplace_back(IdlePicture(), QSize(32, 37));
    all.emplace_back(ProgramIcon(), QSize(64, 64));
    for (const auto& [icon, size] : all) {
        ASSERT_FALSE(icon.isNull());
        for (qreal dpr : {1.0, 2.0}) {
            EXPECT_GT(Coverage(icon, size, dpr), 0.2) << size.width() << " at " << dpr;
            EXPECT_EQ(icon.pixmap(size, dpr).size(), size * dpr);
        }
    }
    EXPECT_TRUE(ToolbarIcon("nonsense").isNull());
    EXPECT_TRUE(OwnToolbarIcon("nonsense").isNull());
}

TEST(Busy, TurnsOnlyWhileRunning) {
    TBusyAnimator busy;
    EXPECT_EQ(busy.size(), QSize(32, 37));
    EXPECT_FALSE(busy.isRunning());
    busy.start();
    EXPECT_TRUE(busy.isRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return busy.angle() != 0; }, 2000));
    EXPECT_FALSE(busy.grab().isNull());
    busy.stop();
    EXPECT_FALSE(busy.isRunning());
    EXPECT_EQ(busy.angle(), 0);
}
