#include "settings/Options.h"

#include "ui/Help.h"
#include "ui/Shell.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <bit>
#include <cstdint>
#include <functional>
#include <optional>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace {

auto Fields(const AppSettings& s)
{
    return std::tie(s.destFolder, s.spareFolder, s.addFolder, s.profileId, s.showToolbar, s.spareFlag,
                    s.showSettingsPanel, s.showStatusBar, s.updateCheckDay, s.showTipAtStart, s.maxConversions,
                    s.saveHistory, s.removeStopped, s.disableVideo, s.width, s.height, s.frameRate,
                    s.videoBitrate, s.aspect, s.disableAudio, s.audioBitrate, s.channels, s.sampleRate, s.volume,
                    s.videoCodec, s.audioCodec, s.internalPlayer, s.shutdownAfter, s.exitAfter);
}

bool Same(const AppSettings& a, const AppSettings& b)
{
    return Fields(a) == Fields(b);
}

uint32_t Bits(float f)
{
    return std::bit_cast<uint32_t>(f);
}

int RowOf(int16_t id)
{
    return ProfileIndexById(id);
}

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SettingsReset(settings);
        settings.destFolder = "/home/user/Videos";
        ShellTest::Reset();
        ShellTest::EnableMessageBoxes(true);
        ShellTest::EnableFileDialogs(true);
    }
    void TearDown() override { ShellTest::Reset(); }

    // The record as the main window leaves it after choosing this profile.
    void useProfile(int16_t id)
    {
        ProfileApplyDefaults(settings, RowOf(id));
    }

    std::vector<QComboBox*> videoLists(TFOptions& d) { return {d.CBDxDy, d.CBVideoBitrate, d.CBVFrameRate, d.CBVCodec}; }
    std::vector<QComboBox*> audioLists(TFOptions& d)
    {
        return {d.CBAudioBitrate, d.CBFreq, d.CBChannels, d.CBVolume, d.CBACodec};
    }

    // Runs ShowSettingsDialog and drives the modal dialog with `drive` once it is up.
    bool runModal(const std::function<void(TFOptions&)>& drive, const QString& caption = {})
    {
        bool found = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TFOptions*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                // Never leave exec() waiting for a user.
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* d = qobject_cast<TFOptions*>(w))
                        d->reject();
                return;
            }
            found = true;
            drive(*dialog);
        });
        const bool result = ShowSettingsDialog(settings, caption);
        EXPECT_TRUE(found) << "the dialog was not shown modally";
        return result;
    }

    AppSettings settings;
};

// F1 anywhere in the dialog opens the help at its table of contents.
TEST_F(OptionsTest, F1OpensTheHelpAtItsTableOfContents)
{
    bool helpShown = false;
    EXPECT_FALSE(runModal([&helpShown](TFOptions& d) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
        for (QWidget* focus : std::initializer_list<QWidget*>{d.CBVideoFor, d.BOk}) {
            if (HelpWindow() != nullptr) HelpWindow()->close();
            d.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
            QTest::keyClick(focus, Qt::Key_F1);
            ASSERT_NE(HelpWindow(), nullptr) << focus->objectName().toStdString();
            helpShown = HelpWindow()->isVisible();
            EXPECT_TRUE(helpShown) << focus->objectName().toStdString();
            EXPECT_EQ(HelpWindow()->CurrentPage(), "index.html");
        }
        HelpWindow()->close();
        d.reject();
    }));
    EXPECT_TRUE(helpShown);
    HelpUninitialize();
}

TEST_F(OptionsTest, ComponentsCarryTheirNamesAndTexts)
{
    TFOptions d;
    d.load(settings);
    EXPECT_EQ(d.windowTitle(), "Settings");
    EXPECT_EQ(d.property("helpContext").toInt(), 10);

    const std::vector<std::pair<QAbstractButton*, QString>> buttons = {
        {d.BOk, "&OK"},
        {d.BCancel, "&Cancel"},
        {d.BSelectDir, "..."},
        {d.BDefault, "Set Defaults"},
        {d.CBDisableVideo, "Disable Video"},
        {d.CBDisableAudio, "Disable Audio"},
        {d.CBSaveHist, "Save History"},
        {d.CBRemoveStop, "Remove Stoped videos (Destination)"},
        {d.CBInternalPlayer, "Use Internal video player"},
        {d.CBShutdown, "Shutdown computer after conversion(s)"},
        {d.CBExitAC, "Exit program after conversion(s)"},
    };
    for (const auto& [button, text] : buttons)
        EXPECT_EQ(button->text(), text) << button->objectName().toStdString();

    const std::vector<std::pair<QLabel*, QString>> labels = {
        {d.Label1, "Destination Folder"}, {d.Label2, "Video Format:"},
        {d.Label3, "Frame Size:"},        {d.Label4, "Bitrate (Kbps):"},
        {d.Label5, "Frame Rate (fps):"},  {d.Label6, "Bitrate (Kbps):"},
        {d.Label7, "Sample Rate (Hz):"},  {d.Label8, "Channels:"},
        {d.Label9, "Max concurrent conversions (1-20):"},
        {d.Label10, "Volume:"},           {d.Label12, "Video Codec:"},
        {d.Label13, "Audio Codec:"},
    };
    for (const auto& [label, text] : labels)
        EXPECT_EQ(label->text(), text) << label->objectName().toStdString();

    EXPECT_EQ(d.GroupVideo->title(), "Video");
    EXPECT_EQ(d.GroupBox2->title(), "Audio");
    ASSERT_EQ(d.PageControl1->count(), 2);
    EXPECT_EQ(d.PageControl1->tabText(0), "Conversion");
    EXPECT_EQ(d.PageControl1->tabText(1), "General");
    EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet1);
    EXPECT_TRUE(d.CBDisableVideo->parentWidget() == d.GroupVideo);
    EXPECT_TRUE(d.BOk->isDefault());

    // Every member is findable by its own name.
    const std::vector<std::pair<QWidget*, const char*>> named = {
        {d.BOk, "BOk"}, {d.BCancel, "BCancel"}, {d.PageControl1, "PageControl1"}, {d.TabSheet1, "TabSheet1"},
        {d.TabSheet2, "TabSheet2"}, {d.EdDir, "EdDir"}, {d.BSelectDir, "BSelectDir"}, {d.CBVideoFor, "CBVideoFor"},
        {d.GroupVideo, "GroupVideo"}, {d.CBDxDy, "CBDxDy"}, {d.CBVideoBitrate, "CBVideoBitrate"},
        {d.CBVFrameRate, "CBVFrameRate"}, {d.CBVCodec, "CBVCodec"}, {d.GroupBox2, "GroupBox2"},
        {d.CBAudioBitrate, "CBAudioBitrate"}, {d.CBFreq, "CBFreq"}, {d.CBChannels, "CBChannels"},
        {d.CBVolume, "CBVolume"}, {d.CBACodec, "CBACodec"}, {d.EdCnx, "EdCnx"}, {d.UpDownCnx, "UpDownCnx"},
        {d.CBDisableVideo, "CBDisableVideo"}, {d.CBDisableAudio, "CBDisableAudio"}, {d.CBSaveHist, "CBSaveHist"},
        {d.CBRemoveStop, "CBRemoveStop"}, {d.CBInternalPlayer, "CBInternalPlayer"}, {d.BDefault, "BDefault"},
        {d.CBShutdown, "CBShutdown"}, {d.CBExitAC, "CBExitAC"}, {d.Label9, "Label9"},
    };
    for (const auto& [widget, name] : named)
        EXPECT_EQ(d.findChild<QWidget*>(name), widget) << name;

    // Pick-only lists; the folder changes only through the picker.
    for (QComboBox* box : d.findChildren<QComboBox*>())
        EXPECT_FALSE(box->isEditable()) << box->objectName().toStdString();
    EXPECT_TRUE(d.EdDir->isReadOnly() || !d.EdDir->isEnabled());
    EXPECT_TRUE(d.EdDir->font().bold());
    EXPECT_TRUE(d.EdCnx->isReadOnly());
}

TEST_F(OptionsTest, OpeningFillsTheProfileListAndTheStoredValues)
{
    useProfile(700);
    settings.width = 640;
    settings.height = 480;
    settings.videoBitrate = 2000;
    settings.frameRate = 25.0f;
    settings.videoCodec = "h264";
    settings.audioBitrate = 192;
    settings.sampleRate = 22050;
    settings.channels = 1;
    settings.volume = 150;
    settings.audioCodec = "aac";
    settings.maxConversions = 5;
    settings.saveHistory = 0;
    settings.removeStopped = 0;
    settings.internalPlayer = 0;
    settings.shutdownAfter = 1;
    settings.exitAfter = 1;

    TFOptions d;
    d.load(settings);
    ASSERT_EQ(d.CBVideoFor->count(), kProfileCount);
    EXPECT_EQ(d.CBVideoFor->itemText(0), "Zune Video (*.mp4) (320x240) H.Quality");
    EXPECT_EQ(d.CBVideoFor->currentIndex(), RowOf(700));
    EXPECT_EQ(d.EdDir->text(), "/home/user/Videos");
    EXPECT_EQ(d.CBDxDy->currentText(), "640 x 480");
    EXPECT_EQ(d.CBVideoBitrate->currentText(), "2000");
    EXPECT_EQ(d.CBVFrameRate->currentText(), "25         (PAL)");
    EXPECT_EQ(d.CBVCodec->currentText(), "H264");
    EXPECT_EQ(d.CBAudioBitrate->currentText(), "192");
    EXPECT_EQ(d.CBFreq->currentText(), "22050");
    EXPECT_EQ(d.CBChannels->currentText(), "Mono (1)");
    EXPECT_EQ(d.CBVolume->currentText(), "150%");
    EXPECT_EQ(d.CBACodec->currentText(), "AAC");
    EXPECT_EQ(d.UpDownCnx->value(), 5);
    EXPECT_EQ(d.EdCnx->text(), "5");
    EXPECT_FALSE(d.CBSaveHist->isChecked());
    EXPECT_FALSE(d.CBRemoveStop->isChecked());
    EXPECT_FALSE(d.CBInternalPlayer->isChecked());
    EXPECT_TRUE(d.CBShutdown->isChecked());
    EXPECT_TRUE(d.CBExitAC->isChecked());

    // Confirming without a change writes back the same record; the codec
    // tags take the list's spelling.
    AppSettings out = settings;
    d.commit(out);
    AppSettings expected = settings;
    expected.videoCodec = "H264";
    expected.audioCodec = "AAC";
    EXPECT_TRUE(Same(out, expected));
}

TEST_F(OptionsTest, ValueListsHoldTheProfileLists)
{
    useProfile(700);
    TFOptions d;
    d.load(settings);
    EXPECT_EQ(d.CBDxDy->count(), 19);
    EXPECT_EQ(d.CBDxDy->itemText(18), "Original");
    EXPECT_EQ(d.CBVideoBitrate->count(), 24);
    EXPECT_EQ(d.CBAudioBitrate->count(), 13);
    EXPECT_EQ(d.CBFreq->count(), 8);
    ASSERT_EQ(d.CBVCodec->count(), 2);
    EXPECT_EQ(d.CBVCodec->itemText(1), "H264");
    ASSERT_EQ(d.CBACodec->count(), 1);
    EXPECT_EQ(d.CBACodec->itemText(0), "AAC");

    const QStringList rates = {"12", "15", "20", "23.976", "25         (PAL)", "29.976  (NTSC)", "30", "Original"};
    ASSERT_EQ(d.CBVFrameRate->count(), rates.size());
    for (int i = 0; i < rates.size(); ++i)
        EXPECT_EQ(d.CBVFrameRate->itemText(i), rates[i]);

    ASSERT_EQ(d.CBChannels->count(), 2);
    EXPECT_EQ(d.CBChannels->itemText(0), "Mono (1)");
    EXPECT_EQ(d.CBChannels->itemText(1), "Stereo (2)");
    ASSERT_EQ(d.CBVolume->count(), 21);
    EXPECT_EQ(d.CBVolume->itemText(4), "100%  (normal)");
    EXPECT_EQ(d.CBVolume->itemText(20), "500%");

    // A profile without a codec list offers its own tag only, or "(Default)".
    d.CBVideoFor->setCurrentIndex(RowOf(5000));
    ASSERT_EQ(d.CBVCodec->count(), 1);
    EXPECT_EQ(d.CBVCodec->itemText(0), "(Default)");
    EXPECT_EQ(d.CBACodec->itemText(0), "MP3");
    d.CBVideoFor->setCurrentIndex(RowOf(1000));
    EXPECT_EQ(d.CBVCodec->itemText(0), "MSMPEG4V2");
}

class NonEditableProfileTest : public OptionsTest, public ::testing::WithParamInterface<int16_t> {};

TEST_P(NonEditableProfileTest, ListsStayDisabledWhileDisableBoxesWork)
{
    useProfile(GetParam());
    TFOptions d;
    d.load(settings);
    auto checkAllDisabled = [&] {
        for (QComboBox* box : videoLists(d))
            EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
        for (QComboBox* box : audioLists(d))
            EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
    };
    checkAllDisabled();
    EXPECT_FALSE(d.GroupVideo->isHidden());
    EXPECT_FALSE(d.CBDisableAudio->isHidden());
    ASSERT_TRUE(d.CBDisableVideo->isEnabled());
    ASSERT_TRUE(d.CBDisableAudio->isEnabled());

    d.CBDisableVideo->click();
    EXPECT_TRUE(d.CBDisableVideo->isChecked());
    d.CBDisableVideo->click();
    d.CBDisableAudio->click();
    checkAllDisabled();

    AppSettings out = settings;
    d.commit(out);
    EXPECT_EQ(out.disableAudio, 1);
    EXPECT_EQ(out.disableVideo, 0);
    EXPECT_EQ(out.profileId, GetParam());
}

INSTANTIATE_TEST_SUITE_P(ZuneRows, NonEditableProfileTest, ::testing::Values(500, 510, 520, 530));

TEST_F(OptionsTest, CustomZuneOffersItsOwnSixFrameSizes)
{
    useProfile(540);
    TFOptions d;
    d.load(settings);
    for (QComboBox* box : videoLists(d))
        EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
    for (QComboBox* box : audioLists(d))
        EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
    const QStringList sizes = {"160 x 120", "320 x 180", "320 x 240", "480 x 368", "512 x 384", "640 x 480"};
    ASSERT_EQ(d.CBDxDy->count(), sizes.size());
    for (int i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(d.CBDxDy->itemText(i), sizes[i]);
    EXPECT_EQ(d.CBDxDy->currentText(), "320 x 240");
    EXPECT_EQ(d.CBDxDy->findText("Original"), -1);
}

class AudioOnlyProfileTest : public OptionsTest, public ::testing::WithParamInterface<int16_t> {};

TEST_P(AudioOnlyProfileTest, VideoGroupAndDisableAudioAreHidden)
{
    useProfile(700);
    TFOptions d;
    d.load(settings);
    ASSERT_FALSE(d.GroupVideo->isHidden());
    d.CBVideoFor->setCurrentIndex(RowOf(GetParam()));

    EXPECT_TRUE(d.GroupVideo->isHidden());
    EXPECT_TRUE(d.CBDisableAudio->isHidden());
    EXPECT_FALSE(d.LabelAudioOnly->isHidden());
    EXPECT_TRUE(d.CBDisableVideo->isChecked());
    EXPECT_FALSE(d.CBDisableVideo->isEnabled());
    EXPECT_FALSE(d.CBDisableAudio->isChecked());
    EXPECT_FALSE(d.CBDisableAudio->isEnabled());
    for (QComboBox* box : audioLists(d))
        EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();

    AppSettings out = settings;
    d.commit(out);
    EXPECT_EQ(out.profileId, GetParam());
    EXPECT_EQ(out.disableVideo, 1);
    EXPECT_EQ(out.disableAudio, 0);

    // Back to a video profile: everything shows again.
    d.CBVideoFor->setCurrentIndex(RowOf(700));
    EXPECT_FALSE(d.GroupVideo->isHidden());
    EXPECT_FALSE(d.CBDisableAudio->isHidden());
    EXPECT_TRUE(d.LabelAudioOnly->isHidden());
    EXPECT_FALSE(d.CBDisableVideo->isChecked());
    EXPECT_TRUE(d.CBDisableVideo->isEnabled());
    for (QComboBox* box : videoLists(d))
        EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
}

TEST_P(AudioOnlyProfileTest, OpensWithAudioListsEnabled)
{
    useProfile(GetParam());
    TFOptions d;
    d.load(settings);
    EXPECT_TRUE(d.GroupVideo->isHidden());
    EXPECT_TRUE(d.CBDisableAudio->isHidden());
    for (QComboBox* box : audioLists(d))
        EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
}

// The Audio group fills the row the hidden Video group leaves, and the
// dialog does not shrink.
TEST_P(AudioOnlyProfileTest, AudioGroupTakesTheRowOfBothGroups)
{
    useProfile(700);
    TFOptions d;
    d.load(settings);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    const QRect videoBefore = d.GroupVideo->geometry();
    const QRect audioBefore = d.GroupBox2->geometry();
    const QSize sizeBefore = d.size();

    d.CBVideoFor->setCurrentIndex(RowOf(GetParam()));
    QApplication::processEvents();
    d.adjustSize();
    const QRect audio = d.GroupBox2->geometry();
    EXPECT_LE(audio.left(), videoBefore.left() + 2);
    EXPECT_GE(audio.right(), audioBefore.right() - 2);
    EXPECT_GE(d.width(), sizeBefore.width() - 2);
}

INSTANTIATE_TEST_SUITE_P(AudioRows, AudioOnlyProfileTest, ::testing::Values(5000, 5010, 5020, 5030, 5040));

TEST_F(OptionsTest, HiddenDisableAudioIsNotTakenFromTheRecord)
{
    // A hand-edited file: the box would be set but hidden, and the user
    // could not clear it.
    useProfile(5000);
    settings.disableAudio = 1;
    settings.disableVideo = 1;
    TFOptions d;
    d.load(settings);
    EXPECT_FALSE(d.CBDisableAudio->isChecked());
    EXPECT_TRUE(d.FormCloseQuery(QDialog::Accepted));
    AppSettings out = settings;
    d.commit(out);
    EXPECT_EQ(out.disableAudio, 0);
    EXPECT_EQ(out.disableVideo, 1);
}

TEST_F(OptionsTest, DisableBoxesToggleTheirListsOnEditableProfiles)
{
    useProfile(700);
    TFOptions d;
    d.load(settings);
    struct Case {
        QCheckBox* box;
        std::vector<QComboBox*> own;
        std::vector<QComboBox*> other;
    };
    const std::vector<Case> cases = {
        {d.CBDisableVideo, videoLists(d), audioLists(d)},
        {d.CBDisableAudio, audioLists(d), videoLists(d)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box->objectName().toStdString());
        c.box->click();
        for (QComboBox* box : c.own)
            EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
        for (QComboBox* box : c.other)
            EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
        c.box->click();
        for (QComboBox* box : c.own)
            EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
    }
}

TEST_F(OptionsTest, StoredDisableFlagsShowAndDisableTheirLists)
{
    useProfile(810);
    settings.disableVideo = 1;
    TFOptions d;
    d.load(settings);
    EXPECT_TRUE(d.CBDisableVideo->isChecked());
    EXPECT_FALSE(d.CBDisableAudio->isChecked());
    for (QComboBox* box : videoLists(d))
        EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
    for (QComboBox* box : audioLists(d))
        EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
}

TEST_F(OptionsTest, OkWithBothDisabledWarnsAndStaysOpen)
{
    useProfile(700);
    const AppSettings before = settings;
    bool stayedOpen = false;
    const bool confirmed = runModal([&](TFOptions& d) {
        d.CBDisableVideo->click();
        d.CBDisableAudio->click();
        d.BOk->click();
        stayedOpen = d.isVisible() && d.result() != QDialog::Accepted;
        d.BCancel->click();
    });
    EXPECT_FALSE(confirmed);
    EXPECT_TRUE(stayedOpen);
    const auto& shown = ShellTest::MessageBoxesShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Cannot disable both video and audio");
    EXPECT_EQ(shown[0].flags, 64);
    EXPECT_EQ(shown[0].title, "Movenna");
    EXPECT_TRUE(Same(settings, before));
}

TEST_F(OptionsTest, OkAfterClearingOneDisableBoxIsAccepted)
{
    useProfile(700);
    const bool confirmed = runModal([&](TFOptions& d) {
        d.CBDisableVideo->click();
        d.CBDisableAudio->click();
        d.BOk->click();
        d.CBDisableAudio->click();
        d.BOk->click();
    });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(ShellTest::MessageBoxesShown().size(), 1u);
    EXPECT_EQ(settings.disableVideo, 1);
    EXPECT_EQ(settings.disableAudio, 0);
}

TEST_F(OptionsTest, EveryWayOutButOkLeavesTheRecordUntouched)
{
    const std::vector<std::pair<const char*, std::function<void(TFOptions&)>>> exits = {
        {"Cancel button", [](TFOptions& d) { d.BCancel->click(); }},
        {"Escape", [](TFOptions& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [](TFOptions& d) { d.close(); }},
    };
    for (const auto& [how, leave] : exits) {
        SCOPED_TRACE(how);
        SetUp();
        useProfile(700);
        const AppSettings before = settings;
        const bool confirmed = runModal([&, leave = leave](TFOptions& d) {
            d.CBVideoFor->setCurrentIndex(RowOf(800));
            d.CBDisableVideo->click();
            d.CBDisableAudio->click();
            d.UpDownCnx->stepUp();
            d.CBSaveHist->click();
            leave(d);
        });
        EXPECT_FALSE(confirmed);
        EXPECT_TRUE(Same(settings, before));
        EXPECT_TRUE(ShellTest::MessageBoxesShown().empty());
    }
}

TEST_F(OptionsTest, OkCommitsAndCaptionReplacesTheTitle)
{
    useProfile(700);
    QString title;
    const bool confirmed = runModal(
        [&](TFOptions& d) {
            title = d.windowTitle();
            d.CBVideoFor->setCurrentIndex(RowOf(1000));
            d.CBVolume->setCurrentIndex(8);
            d.PageControl1->setCurrentWidget(d.TabSheet2);
            d.UpDownCnx->stepUp();
            d.CBExitAC->click();
            QTest::keyClick(d.BOk, Qt::Key_Space);
        },
        "Convert 3 video(s)");
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(title, "Convert 3 video(s)");
    EXPECT_EQ(settings.profileId, 1000);
    EXPECT_EQ(settings.width, 320);
    EXPECT_EQ(settings.height, 240);
    EXPECT_EQ(settings.videoBitrate, 4000);
    EXPECT_EQ(settings.frameRate, 25.0f);
    EXPECT_EQ(settings.videoCodec, "msmpeg4v2");
    EXPECT_EQ(settings.audioCodec, "MP3");
    EXPECT_EQ(settings.volume, 200);
    EXPECT_EQ(settings.maxConversions, 3);
    EXPECT_EQ(settings.exitAfter, 1);
}

TEST_F(OptionsTest, SetDefaultsResetsTheConversionPageOnly)
{
    useProfile(700);
    TFOptions d;
    d.load(settings);
    d.CBDxDy->setCurrentIndex(0);
    d.CBVideoBitrate->setCurrentIndex(0);
    d.CBVFrameRate->setCurrentIndex(0);
    d.CBVCodec->setCurrentIndex(1);
    d.CBAudioBitrate->setCurrentIndex(0);
    d.CBFreq->setCurrentIndex(0);
    d.CBChannels->setCurrentIndex(0);
    d.CBVolume->setCurrentIndex(0);
    d.CBDisableVideo->click();
    d.CBDisableAudio->click();
    d.UpDownCnx->setValue(9);
    d.CBSaveHist->click();
    d.CBShutdown->click();
    const QString folder = d.EdDir->text();

    d.BDefault->click();
    EXPECT_EQ(d.CBVolume->currentIndex(), 4);
    EXPECT_EQ(d.CBVolume->currentText(), "100%  (normal)");
    EXPECT_FALSE(d.CBDisableVideo->isChecked());
    EXPECT_FALSE(d.CBDisableAudio->isChecked());
    EXPECT_EQ(d.CBDxDy->currentText(), "Original");
    EXPECT_EQ(d.CBVideoBitrate->currentText(), "1200");
    EXPECT_EQ(d.CBVFrameRate->currentText(), "29.976  (NTSC)");
    EXPECT_EQ(d.CBVCodec->currentText(), "MP4");
    EXPECT_EQ(d.CBAudioBitrate->currentText(), "128");
    EXPECT_EQ(d.CBFreq->currentText(), "48000");
    EXPECT_EQ(d.CBChannels->currentText(), "Stereo (2)");
    for (QComboBox* box : videoLists(d))
        EXPECT_TRUE(box->isEnabled());
    for (QComboBox* box : audioLists(d))
        EXPECT_TRUE(box->isEnabled());

    EXPECT_EQ(d.UpDownCnx->value(), 9);
    EXPECT_FALSE(d.CBSaveHist->isChecked());
    EXPECT_TRUE(d.CBShutdown->isChecked());
    EXPECT_EQ(d.EdDir->text(), folder);
}

TEST_F(OptionsTest, ChangingProfileDiscardsTheOverrides)
{
    useProfile(700);
    settings.videoCodec = "H264";
    TFOptions d;
    d.load(settings);
    EXPECT_EQ(d.CBVCodec->currentText(), "H264");
    d.CBVideoFor->setCurrentIndex(RowOf(800));
    EXPECT_EQ(d.CBVCodec->currentText(), "MPEG1");
    d.CBVideoFor->setCurrentIndex(RowOf(700));
    EXPECT_EQ(d.CBVCodec->currentText(), "MP4");
    AppSettings out = settings;
    d.commit(out);
    EXPECT_EQ(out.videoCodec, "MP4");
}

TEST_F(OptionsTest, ValuesOutsideTheListsShowAndStoreTheFirstEntry)
{
    struct Case {
        const char* what;
        std::function<void(AppSettings&)> set;
        std::function<QComboBox*(TFOptions&)> list;
        QString shown;
        std::function<bool(const AppSettings&)> stored;
    };
    const std::vector<Case> cases = {
        {"volume 110", [](AppSettings& s) { s.volume = 110; }, [](TFOptions& d) { return d.CBVolume; },
         "100%  (normal)", [](const AppSettings& s) { return s.volume == 100; }},
        {"volume 600", [](AppSettings& s) { s.volume = 600; }, [](TFOptions& d) { return d.CBVolume; }, "0%",
         [](const AppSettings& s) { return s.volume == 0; }},
        {"volume -30", [](AppSettings& s) { s.volume = -30; }, [](TFOptions& d) { return d.CBVolume; }, "0%",
         [](const AppSettings& s) { return s.volume == 0; }},
        {"video bitrate 600", [](AppSettings& s) { s.videoBitrate = 600; },
         [](TFOptions& d) { return d.CBVideoBitrate; }, "90",
         [](const AppSettings& s) { return s.videoBitrate == 90; }},
        {"frame size 321x240", [](AppSettings& s) { s.width = 321; }, [](TFOptions& d) { return d.CBDxDy; },
         "80 x 60", [](const AppSettings& s) { return s.width == 80 && s.height == 60; }},
        {"frame rate 29.97", [](AppSettings& s) { s.frameRate = 29.97f; },
         [](TFOptions& d) { return d.CBVFrameRate; }, "12", [](const AppSettings& s) { return s.frameRate == 12.0f; }},
        {"sample rate 11025", [](AppSettings& s) { s.sampleRate = 11025; }, [](TFOptions& d) { return d.CBFreq; },
         "8000", [](const AppSettings& s) { return s.sampleRate == 8000; }},
        {"channels -1", [](AppSettings& s) { s.channels = -1; }, [](TFOptions& d) { return d.CBChannels; },
         "Mono (1)", [](const AppSettings& s) { return s.channels == 1; }},
        {"video codec xyz", [](AppSettings& s) { s.videoCodec = "xyz"; }, [](TFOptions& d) { return d.CBVCodec; },
         "MP4", [](const AppSettings& s) { return s.videoCodec == "MP4"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useProfile(700);
        c.set(settings);
        TFOptions d;
        d.load(settings);
        EXPECT_EQ(c.list(d)->currentText(), c.shown);
        AppSettings out = settings;
        d.commit(out);
        EXPECT_TRUE(c.stored(out));
    }
}

TEST_F(OptionsTest, CodecTagsFollowTheRowWhenCommitted)
{
    struct Case {
        int16_t row;
        const char* storedVideo;
        const char* storedAudio;
        const char* video;
        const char* audio;
    };
    const std::vector<Case> cases = {
        // No video tag on the row: the previous tag stays.
        {5010, "MP4", "AAC", "MP4", "pcm"},
        {5020, "xvid", "", "xvid", "WMA"},
        // An empty tag on the row replaces the stored one.
        {5000, "MP4", "AAC", "", "MP3"},
        {5040, "H264", "MP3", "", "AAC"},
        {900, "H264", "AAC", "WMV1", "MP3"},
        {700, "", "", "MP4", "AAC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        useProfile(700);
        settings.videoCodec = c.storedVideo;
        settings.audioCodec = c.storedAudio;
        TFOptions d;
        d.load(settings);
        d.CBVideoFor->setCurrentIndex(RowOf(c.row));
        AppSettings out = settings;
        d.commit(out);
        EXPECT_EQ(out.profileId, c.row);
        EXPECT_EQ(out.videoCodec, c.video);
        EXPECT_EQ(out.audioCodec, c.audio);
    }
}

TEST_F(OptionsTest, FrameRatesAreCommittedBitForBit)
{
    useProfile(700);
    settings.frameRate = -1.0f;
    TFOptions d;
    d.load(settings);
    EXPECT_EQ(d.CBVFrameRate->currentText(), "Original");
    const std::vector<std::pair<int, uint32_t>> cases = {
        {3, 0x41BFCED9u}, {5, 0x41EFCED9u}, {4, Bits(25.0f)}, {7, Bits(-1.0f)}};
    for (const auto& [index, bits] : cases) {
        d.CBVFrameRate->setCurrentIndex(index);
        AppSettings out = settings;
        d.commit(out);
        EXPECT_EQ(Bits(out.frameRate), bits) << index;
    }

    // The stored NTSC rate is found again when the dialog reopens.
    settings.frameRate = std::bit_cast<float>(0x41EFCED9u);
    TFOptions again;
    again.load(settings);
    EXPECT_EQ(again.CBVFrameRate->currentIndex(), 5);
}

TEST_F(OptionsTest, MaxConversionsIsKeptWithinRange)
{
    const std::vector<std::pair<int16_t, int16_t>> cases = {{0, 1}, {-5, 1}, {1, 1}, {7, 7}, {20, 20}, {21, 20}, {300, 20}};
    for (const auto& [stored, shown] : cases) {
        SCOPED_TRACE(stored);
        settings.maxConversions = stored;
        TFOptions d;
        d.load(settings);
        EXPECT_EQ(d.UpDownCnx->value(), shown);
        EXPECT_EQ(d.EdCnx->text(), QString::number(shown));
        AppSettings out = settings;
        d.commit(out);
        EXPECT_EQ(out.maxConversions, shown);
    }

    settings.maxConversions = 20;
    TFOptions d;
    d.load(settings);
    d.UpDownCnx->stepUp();
    EXPECT_EQ(d.EdCnx->text(), "20");
    d.UpDownCnx->setValue(1);
    d.UpDownCnx->stepDown();
    EXPECT_EQ(d.EdCnx->text(), "1");
    d.UpDownCnx->stepUp();
    EXPECT_EQ(d.EdCnx->text(), "2");
}

TEST_F(OptionsTest, FolderPickerShowsTheChoiceWithoutStoringIt)
{
    TFOptions d;
    d.load(settings);
    const auto& shown = ShellTest::FileDialogsShown();

    ShellTest::QueueFolder(std::nullopt);
    d.BSelectDir->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Select Destination Folder");
    EXPECT_EQ(shown[0].text, "/home/user/Videos");
    EXPECT_EQ(shown[0].flags, 0);
    EXPECT_EQ(d.EdDir->text(), "/home/user/Videos");

    ShellTest::QueueFolder(QString("/srv/media/out"));
    d.BSelectDir->click();
    EXPECT_EQ(d.EdDir->text(), "/srv/media/out");
    EXPECT_EQ(settings.destFolder, "/home/user/Videos");

    // A folder longer than a path can be is refused, not cut.
    ShellTest::QueueFolder("/" + QString(5000, 'a'));
    d.BSelectDir->click();
    EXPECT_EQ(d.EdDir->text(), "/srv/media/out");

    AppSettings out = settings;
    d.commit(out);
    EXPECT_EQ(out.destFolder, "/srv/media/out");
}

TEST_F(OptionsTest, NothingIsCutWhenShown)
{
    const QByteArray shots = qgetenv("MOVENNA_SCREENSHOT_DIR");
    struct View {
        const char* file;
        int16_t profile;
        int page;
    };
    const std::vector<View> views = {
        {"options_conversion.png", 700, 0},
        {"options_general.png", 700, 1},
        {"options_audio_only.png", 5000, 0},
        {"options_zune.png", 500, 0},
    };
    for (const View& v : views) {
        SCOPED_TRACE(v.file);
        useProfile(v.profile);
        TFOptions d;
        d.load(settings);
        d.PageControl1->setCurrentIndex(v.page);
        d.show();
        QApplication::processEvents();
        for (QWidget* w : d.findChildren<QWidget*>()) {
            const bool control = qobject_cast<QLabel*>(w) != nullptr || qobject_cast<QAbstractButton*>(w) != nullptr ||
                                 qobject_cast<QComboBox*>(w) != nullptr;
            if (!control || !w->isVisible())
                continue;
            // Push buttons may be narrower than the style's minimum, never than their text.
            auto* push = qobject_cast<QPushButton*>(w);
            const int needed = push != nullptr ? push->fontMetrics().horizontalAdvance(push->text()) + 8
                                               : w->minimumSizeHint().width();
            EXPECT_GE(w->width(), needed) << w->objectName().toStdString();
            EXPECT_GE(w->height(), w->minimumSizeHint().height()) << w->objectName().toStdString();
        }
        const QPixmap shot = d.grab();
        EXPECT_FALSE(shot.isNull());
        if (!shots.isEmpty()) {
            EXPECT_TRUE(shot.save(QString::fromLocal8Bit(shots) + "/" + v.file));
        }
        d.close();
    }
}

} // namespace
