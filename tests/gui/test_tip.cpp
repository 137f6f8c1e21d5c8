#include "ui/Help.h"
#include "ui/Tip.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class TipFixture : public ::testing::Test {
  protected:
    void TearDown() override { TFTip::answerForTests = nullptr; }
};

struct DisplayCase {
    const char* stored;
    const char* shown;
};

TEST(TipText, WrappedLinesBecomeParagraphs) {
    const DisplayCase cases[] = {
        {"one line", "one line"},
        {"wrapped\nline", "wrapped line"},
        // Spaces at the end of a stored line give no double space.
        {"trailing   \nspaces", "trailing spaces"},
        {"first\n\nsecond", "first\n\nsecond"},
        {"a\nb\n\nc\nd", "a b\n\nc d"},
        {"ends with space   ", "ends with space"},
        {"\nleading break", "\nleading break"},
        {"ends with break\n", "ends with break\n"},
    };
    for (const DisplayCase& c : cases)
        EXPECT_EQ(TipDisplayText(c.stored), c.shown) << c.stored;
}

TEST(TipText, ProgramTipsShowAsFlowingParagraphs) {
    const TipTexts texts = MovennaTipTexts(true);
    ASSERT_EQ(texts.tips.size(), 5u);
    EXPECT_FALSE(texts.caption.empty());
    EXPECT_FALSE(texts.title.empty());
    for (const std::string& tip : texts.tips) {
        const std::string shown = TipDisplayText(tip);
        EXPECT_EQ(shown.find("  "), std::string::npos) << shown;
        EXPECT_EQ(shown.find(" \n"), std::string::npos) << shown;
        // A single line break would be a wrap left in the text.
        for (size_t i = 0; i < shown.size(); ++i)
            if (shown[i] == '\n') {
                const bool paired = (i + 1 < shown.size() && shown[i + 1] == '\n') ||
                                    (i > 0 && shown[i - 1] == '\n');
                EXPECT_TRUE(paired) << shown;
            }
    }
}

// Opens the program's tips and records what the dialog showed at each step.
TEST_F(TipFixture, PagesThroughFiveTipsWithoutWrapping) {
    TipTexts texts = MovennaTipTexts(true);
    TFTip::answerForTests = [&](TFTip& d) {
        EXPECT_EQ(d.TipCount(), 5);
        EXPECT_EQ(d.TipIndex(), 0);
        EXPECT_EQ(d.windowTitle().toStdString(), texts.caption);
        EXPECT_EQ(d.REText->toPlainText().toStdString(), TipDisplayText(texts.tips[0]));
        EXPECT_FALSE(d.BitBtnPrevious->isEnabled());
        EXPECT_TRUE(d.BitBtnNext->isEnabled());
        for (int i = 1; i < 5; ++i) {
            QTest::mouseClick(d.BitBtnNext, Qt::LeftButton);
            EXPECT_EQ(d.TipIndex(), i);
            EXPECT_EQ(d.REText->toPlainText().toStdString(), TipDisplayText(texts.tips[i]));
        }
        EXPECT_FALSE(d.BitBtnNext->isEnabled());
        EXPECT_TRUE(d.BitBtnPrevious->isEnabled());
        // Next on the last tip stays there.
        d.BitBtnNextClick();
        EXPECT_EQ(d.TipIndex(), 4);
        for (int i = 3; i >= 0; --i) {
            QTest::mouseClick(d.BitBtnPrevious, Qt::LeftButton);
            EXPECT_EQ(d.TipIndex(), i);
        }
        d.BitBtnPreviousClick();
        EXPECT_EQ(d.TipIndex(), 0);
        EXPECT_FALSE(d.BitBtnPrevious->isEnabled());
    };
    ShowTipOfTheDay(texts, 10);
}

TEST_F(TipFixture, CountStopsAtFirstEmptyTipAfterTheFirst) {
    struct CountCase {
        std::vector<std::string> tips;
        int count;
        bool previous, next;
    };
    const CountCase cases[] = {
        {{"only"}, 1, false, false},
        {{"a", "b", "", "c"}, 2, false, true},
        {{"", "b"}, 2, false, true}, // the first entry always counts
        {{"a", ""}, 1, false, false},
    };
    for (const CountCase& c : cases) {
        TipTexts texts{.caption = "c", .title = "t", .tips = c.tips, .showAtStart = true};
        TFTip::answerForTests = [&](TFTip& d) {
            EXPECT_EQ(d.TipCount(), c.count);
            EXPECT_EQ(d.BitBtnPrevious->isEnabled(), c.previous);
            EXPECT_EQ(d.BitBtnNext->isEnabled(), c.next);
        };
        ShowTipOfTheDay(texts, 10);
    }
}

TEST_F(TipFixture, CheckBoxStateComesBack) {
    struct BoxCase {
        bool before;
        bool click;
        bool after;
    };
    const BoxCase cases[] = {
        {true, true, false}, {false, true, true}, {true, false, true}, {false, false, false}};
    for (const BoxCase& c : cases) {
        bool show = c.before;
        TFTip::answerForTests = [&](TFTip& d) {
            EXPECT_EQ(d.CBStartup->isChecked(), c.before);
            if (c.click)
                QTest::mouseClick(d.CBStartup, Qt::LeftButton, {},
                                  QPoint(4, d.CBStartup->height() / 2));
            // Escape closes the dialog like Close.
            QTest::keyClick(d.REText, Qt::Key_Escape);
        };
        ShowTipOfTheDay("Tips", "Did you know...", {"x", "y"}, show, 10);
        EXPECT_EQ(show, c.after);
    }
}

TEST_F(TipFixture, EscapeAndCloseEndTheDialog) {
    TFTip dialog;
    dialog.SetTips({"a", "b"});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(dialog.REText, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    dialog.show();
    QTest::mouseClick(dialog.BitBtnClose, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(TipFixture, F1OpensTheHelpAtItsTableOfContents) {
    TipTexts texts = MovennaTipTexts(true);
    TFTip::answerForTests = [](TFTip& d) {
        d.show();
        d.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
        QTest::keyClick(d.REText, Qt::Key_F1);
    };
    ShowTipOfTheDay(texts, kHelpContextMain);
    ASSERT_NE(HelpWindow(), nullptr);
    EXPECT_EQ(HelpWindow()->CurrentPage(), "index.html");
    HelpUninitialize();
}

} // namespace
