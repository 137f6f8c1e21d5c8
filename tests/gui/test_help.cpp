#include "ui/Help.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTextBrowser>
#include <gtest/gtest.h>

namespace {

QString ReadPage(const QString& file) {
    QFile f(QStringLiteral(":/help/") + file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

QSet<QString> AnchorsOf(const QString& html) {
    QSet<QString> names;
    static const QRegularExpression anchor(QStringLiteral("<a\\s+name=\"([^\"]+)\""));
    for (auto m = anchor.globalMatch(html); m.hasNext();)
        names.insert(m.next().captured(1));
    return names;
}

class HelpFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        HelpEnsureResources();
        HelpInitialize();
        ASSERT_NE(HelpWindow(), nullptr);
    }
    void TearDown() override {
        HelpUninitialize();
        EXPECT_EQ(HelpWindow(), nullptr);
    }
};

TEST_F(HelpFixture, EveryContentsLineOpensItsPage) {
    TFHelp* w = HelpWindow();
    EXPECT_EQ(w->CurrentPage(), "index.html");
    ASSERT_EQ(w->LBContents->count(), static_cast<int>(HelpPages().size()));
    for (int i = 0; i < w->LBContents->count(); ++i) {
        const HelpPage& page = HelpPages()[static_cast<size_t>(i)];
        QListWidgetItem* item = w->LBContents->item(i);
        w->LBContents->itemClicked(item);
        EXPECT_EQ(w->CurrentPage(), QLatin1String(page.file));
        EXPECT_EQ(w->HelpText->documentTitle(), QLatin1String(page.title)) << page.file;
        EXPECT_GT(w->HelpText->toPlainText().size(), 200) << page.file;
        EXPECT_EQ(w->LBContents->currentRow(), i);
    }
}

// Every link of every page names a page of the help, and an anchor in it when
// it has one; web addresses are left out.
TEST_F(HelpFixture, EveryLinkBetweenPagesResolves) {
    QSet<QString> files;
    for (const HelpPage& page : HelpPages())
        files.insert(QLatin1String(page.file));
    static const QRegularExpression link(QStringLiteral("<a\\s+href=\"([^\"]+)\""));
    int links = 0;
    for (const HelpPage& page : HelpPages()) {
        const QString html = ReadPage(QLatin1String(page.file));
        ASSERT_FALSE(html.isEmpty()) << page.file;
        EXPECT_TRUE(
            html.contains(QStringLiteral("<title>%1</title>").arg(QLatin1String(page.title))))
            << page.file;
        for (auto m = link.globalMatch(html); m.hasNext();) {
            const QString href = m.next().captured(1);
            if (href.startsWith(QLatin1String("http"))) continue;
            ++links;
            const QString target = href.section('#', 0, 0).isEmpty() ? QLatin1String(page.file)
                                                                     : href.section('#', 0, 0);
            EXPECT_TRUE(files.contains(target)) << page.file << " links to " << href.toStdString();
            const QString anchor = href.section('#', 1);
            if (!anchor.isEmpty()) {
                EXPECT_TRUE(AnchorsOf(ReadPage(target)).contains(anchor))
                    << page.file << " links to missing anchor " << href.toStdString();
            }
        }
    }
    EXPECT_GT(links, 50);
}

TEST_F(HelpFixture, TableOfContentsReachesEveryPage) {
    const QString index = ReadPage(QStringLiteral("index.html"));
    for (const HelpPage& page : HelpPages().subspan(1))
        EXPECT_TRUE(index.contains(QStringLiteral("href=\"%1\"").arg(QLatin1String(page.file))))
            << page.file;
}

TEST_F(HelpFixture, ImagesOfThePagesAreCompiledIn) {
    static const QRegularExpression image(QStringLiteral("<img\\s+src=\"([^\"]+)\""));
    for (const HelpPage& page : HelpPages())
        for (auto m = image.globalMatch(ReadPage(QLatin1String(page.file))); m.hasNext();) {
            const QString src = m.next().captured(1);
            EXPECT_TRUE(QFile::exists(QStringLiteral(":/help/") + src))
                << page.file << " " << src.toStdString();
        }
}

// Whatever the context, and from whatever page the window was left on, the
// help opens at its table of contents.
TEST_F(HelpFixture, EveryContextOpensTheTableOfContents) {
    for (const int context : {kHelpContextMain, kHelpContextAbout, 0, 999}) {
        HelpWindow()->OpenPage(QStringLiteral("problems.html"));
        ShowHelp(context);
        EXPECT_EQ(HelpWindow()->CurrentPage(), "index.html") << context;
        EXPECT_TRUE(HelpWindow()->isVisible());
    }
    HelpWindow()->OpenPage(QStringLiteral("about.html"));
    ShowHelpContents();
    EXPECT_EQ(HelpWindow()->CurrentPage(), "index.html");
}

// F1 in any dialog that carries the help key opens the contents.
TEST_F(HelpFixture, HelpKeyOfADialogOpensTheTableOfContents) {
    for (const int context : {kHelpContextMain, kHelpContextAbout}) {
        HelpWindow()->OpenPage(QStringLiteral("profiles.html"));
        HelpWindow()->hide();
        QDialog dialog;
        auto* field = new QLineEdit(&dialog);
        InstallHelpKey(&dialog, context);
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        QTest::keyClick(field, Qt::Key_F1);
        EXPECT_TRUE(HelpWindow()->isVisible()) << context;
        EXPECT_EQ(HelpWindow()->CurrentPage(), "index.html") << context;
    }
}

// The help window has no menu: Esc and Ctrl+W close it, wherever the focus is.
TEST_F(HelpFixture, EscapeAndCtrlWCloseTheWindow) {
    TFHelp* w = HelpWindow();
    struct CloseCase {
        const char* name;
        QWidget* focus;
        QKeyCombination key;
    };
    const CloseCase cases[] = {
        {"Esc in the page", w->HelpText, QKeyCombination(Qt::Key_Escape)},
        {"Esc in the contents", w->LBContents, QKeyCombination(Qt::Key_Escape)},
        {"Ctrl+W in the page", w->HelpText, QKeyCombination(Qt::ControlModifier, Qt::Key_W)},
        {"Ctrl+W in the contents", w->LBContents, QKeyCombination(Qt::ControlModifier, Qt::Key_W)},
    };
    for (const CloseCase& c : cases) {
        ShowHelpContents();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w)) << c.name;
        c.focus->setFocus();
        QTest::keyClick(c.focus, c.key.key(), c.key.keyboardModifiers());
        EXPECT_FALSE(w->isVisible()) << c.name;
        // Closed, not destroyed: the next F1 shows it again.
        EXPECT_EQ(HelpWindow(), w);
    }
}

TEST_F(HelpFixture, FollowsLinksAndGoesBackAndForward) {
    TFHelp* w = HelpWindow();
    EXPECT_FALSE(w->ActBack->isEnabled());
    w->HelpText->setSource(
        QUrl(QStringLiteral("file-menu.html#stop"))); // relative, as a click gives it
    EXPECT_EQ(w->CurrentPage(), "file-menu.html");
    w->OpenPage(QStringLiteral("profiles.html"));
    ASSERT_TRUE(w->ActBack->isEnabled());
    w->ActBack->trigger();
    EXPECT_EQ(w->CurrentPage(), "file-menu.html");
    ASSERT_TRUE(w->ActForward->isEnabled());
    w->ActForward->trigger();
    EXPECT_EQ(w->CurrentPage(), "profiles.html");
    w->ActContents->trigger();
    EXPECT_EQ(w->CurrentPage(), "index.html");
    EXPECT_EQ(w->LBContents->currentRow(), 0);
}

TEST(HelpWindowLife, ShowHelpWithoutInitializeCreatesTheWindow) {
    ASSERT_EQ(HelpWindow(), nullptr);
    ShowHelpContents();
    ASSERT_NE(HelpWindow(), nullptr);
    EXPECT_EQ(HelpWindow()->CurrentPage(), "index.html");
    HelpUninitialize();
    EXPECT_EQ(HelpWindow(), nullptr);
    HelpUninitialize(); // twice is harmless
}

} // namespace
