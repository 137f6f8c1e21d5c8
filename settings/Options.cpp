#include "settings/Options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/Help.h"
#include "ui/Shell.h"

namespace {

constexpr auto kProgramTitle = "Movenna";
constexpr int kMinConversions = 1;
constexpr int kMaxConversions = 20;
constexpr int kVolumeDefaultEntry = 100 / kVolumeStep;

// The up-down and its edit are one widget here; this only opens up the edit
// so that it can carry its own name.
class CnxSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;
    using QSpinBox::lineEdit;
};

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// Index of the selected entry, 0 when nothing is selected.
int Selected(const QComboBox* box)
{
    return std::max(0, box->currentIndex());
}

void Select(QComboBox* box, int index)
{
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : 0);
}

// The committed codec tag: the entry of the row's list, else the row's own
// tag (empty included), else the stored tag stays.
void CommitCodec(std::string& stored, const char* const* list, const char* rowTag, int index)
{
    if (list != nullptr)
        stored = list[index];
    else if (rowTag != nullptr)
        stored = rowTag;
    else
        return;
    if (stored.size() > static_cast<size_t>(kCodecTagMaxLen))
        stored.resize(kCodecTagMaxLen);
}

void FillCodecs(QComboBox* box, const char* const* list, const char* rowTag)
{
    if (list == nullptr) {
        box->addItem(Text(CodecLabel(rowTag)));
        return;
    }
    for (int i = 0; list[i] != nullptr && list[i][0] != '\0'; ++i)
        box->addItem(Text(CodecLabel(list[i])));
}

} // namespace

TFOptions::TFOptions(QWidget* parent)
    : QDialog(parent)
{
    buildForm();
}

void TFOptions::buildForm()
{
    setObjectName(QStringLiteral("FOptions"));
    setWindowTitle(tr("Settings"));
    setProperty("helpContext", kHelpContext);
    InstallHelpKey(this, kHelpContext);

    auto name = [](QObject* object, const char* objectName) { object->setObjectName(QLatin1String(objectName)); };
    auto combo = [&](QComboBox*& box, const char* objectName, QWidget* owner) {
        box = new QComboBox(owner);
        name(box, objectName);
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        box->setMinimumContentsLength(9);
    };
    auto label = [&](QLabel*& l, const char* objectName, const QString& text, QWidget* owner) {
        l = new QLabel(text, owner);
        name(l, objectName);
    };
    auto check = [&](QCheckBox*& box, const char* objectName, const QString& text, QWidget* owner) {
        box = new QCheckBox(text, owner);
        name(box, objectName);
    };

    BOk = new QPushButton(tr("&OK"), this);
    name(BOk, "BOk");
    BOk->setDefault(true);
    BOk->setAutoDefault(true);
    BCancel = new QPushButton(tr("&Cancel"), this);
    name(BCancel, "BCancel");
    BCancel->setAutoDefault(false);

    PageControl1 = new QTabWidget(this);
    name(PageControl1, "PageControl1");
    TabSheet1 = new QWidget;
    name(TabSheet1, "TabSheet1");
    TabSheet2 = new QWidget;
    name(TabSheet2, "TabSheet2");
    PageControl1->addTab(TabSheet1, tr("Conversion"));
    PageControl1->addTab(TabSheet2, tr("General"));

    // Conversion page: folder, profile, the two groups and Set Defaults.
    label(Label1, "Label1", tr("Destination Folder"), TabSheet1);
    EdDir = new QLineEdit(TabSheet1);
    name(EdDir, "EdDir");
    // Changed only through the folder picker.
    EdDir->setReadOnly(true);
    EdDir->setFocusPolicy(Qt::NoFocus);
    QFont bold = EdDir->font();
    bold.setBold(true);
    EdDir->setFont(bold);
    BSelectDir = new QPushButton(tr("..."), TabSheet1);
    name(BSelectDir, "BSelectDir");
    BSelectDir->setAutoDefault(false);
    BSelectDir->setFixedWidth(BSelectDir->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 20);

    label(Label2, "Label2", tr("Video Format:"), TabSheet1);
    combo(CBVideoFor, "CBVideoFor", TabSheet1);
    CBVideoFor->setMaxVisibleItems(20);

    GroupVideo = new QGroupBox(tr("Video"), TabSheet1);
    name(GroupVideo, "GroupVideo");
    check(CBDisableVideo, "CBDisableVideo", tr("Disable Video"), GroupVideo);
    label(Label3, "Label3", tr("Frame Size:"), GroupVideo);
    label(Label4, "Label4", tr("Bitrate (Kbps):"), GroupVideo);
    label(Label5, "Label5", tr("Frame Rate (fps):"), GroupVideo);
    label(Label12, "Label12", tr("Video Codec:"), GroupVideo);
    combo(CBDxDy, "CBDxDy", GroupVideo);
    combo(CBVideoBitrate, "CBVideoBitrate", GroupVideo);
    combo(CBVFrameRate, "CBVFrameRate", GroupVideo);
    combo(CBVCodec, "CBVCodec", GroupVideo);

    GroupBox2 = new QGroupBox(tr("Audio"), TabSheet1);
    name(GroupBox2, "GroupBox2");
    check(CBDisableAudio, "CBDisableAudio", tr("Disable Audio"), GroupBox2);
    label(Label6, "Label6", tr("Bitrate (Kbps):"), GroupBox2);
    label(Label7, "Label7", tr("Sample Rate (Hz):"), GroupBox2);
    label(Label8, "Label8", tr("Channels:"), GroupBox2);
    label(Label10, "Label10", tr("Volume:"), GroupBox2);
    label(Label13, "Label13", tr("Audio Codec:"), GroupBox2);
    combo(CBAudioBitrate, "CBAudioBitrate", GroupBox2);
    combo(CBFreq, "CBFreq", GroupBox2);
    combo(CBChannels, "CBChannels", GroupBox2);
    combo(CBVolume, "CBVolume", GroupBox2);
    CBVolume->setMaxVisibleItems(21);
    combo(CBACodec, "CBACodec", GroupBox2);

    LabelAudioOnly = new QLabel(tr("This format keeps only the sound."), GroupBox2);
    name(LabelAudioOnly, "LabelAudioOnly");
    LabelAudioOnly->setMinimumHeight(CBDisableAudio->sizeHint().height());
    LabelAudioOnly->setVisible(false);

    BDefault = new QPushButton(tr("Set Defaults"), TabSheet1);
    name(BDefault, "BDefault");
    BDefault->setAutoDefault(false);

    auto groupLayout = [](QGroupBox* group, QCheckBox* disable, QLabel* note,
                          std::initializer_list<std::pair<QLabel*, QComboBox*>> rows) {
        auto* form = new QFormLayout;
        form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
        form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
        for (const auto& [l, box] : rows) {
            l->setBuddy(box);
            form->addRow(l, box);
        }
        auto* column = new QVBoxLayout(group);
        column->addWidget(disable);
        if (note != nullptr) column->addWidget(note);
        column->addLayout(form);
        column->addStretch(1);
    };
    groupLayout(GroupVideo, CBDisableVideo, nullptr,
                {{Label3, CBDxDy}, {Label4, CBVideoBitrate}, {Label5, CBVFrameRate}, {Label12, CBVCodec}});
    groupLayout(GroupBox2, CBDisableAudio, LabelAudioOnly,
                {{Label6, CBAudioBitrate}, {Label7, CBFreq}, {Label8, CBChannels}, {Label10, CBVolume},
                 {Label13, CBACodec}});

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(EdDir, 1);
    folderRow->addWidget(BSelectDir);

    auto* groups = new QHBoxLayout;
    groups->addWidget(GroupVideo, 1);
    groups->addWidget(GroupBox2, 1);

    auto* defaultsRow = new QHBoxLayout;
    defaultsRow->addStretch(1);
    defaultsRow->addWidget(BDefault);

    auto* page1 = new QVBoxLayout(TabSheet1);
    page1->addWidget(Label1);
    page1->addLayout(folderRow);
    page1->addSpacing(6);
    page1->addWidget(Label2);
    page1->addWidget(CBVideoFor);
    page1->addSpacing(6);
    page1->addLayout(groups);
    page1->addStretch(1);
    page1->addLayout(defaultsRow);

    // General page: concurrency and the five options.
    label(Label9, "Label9", tr("Max concurrent conversions (1-20):"), TabSheet2);
    auto* upDown = new CnxSpinBox(TabSheet2);
    UpDownCnx = upDown;
    name(UpDownCnx, "UpDownCnx");
    UpDownCnx->setRange(kMinConversions, kMaxConversions);
    UpDownCnx->setSingleStep(1);
    UpDownCnx->setAlignment(Qt::AlignRight);
    UpDownCnx->setMinimumWidth(UpDownCnx->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 40);
    EdCnx = upDown->lineEdit();
    name(EdCnx, "EdCnx");
    // Only the arrows change the value, so it always lies within the range.
    EdCnx->setReadOnly(true);
    Label9->setBuddy(UpDownCnx);

    check(CBSaveHist, "CBSaveHist", tr("Save History"), TabSheet2);
    check(CBRemoveStop, "CBRemoveStop", tr("Remove Stoped videos (Destination)"), TabSheet2);
    check(CBInternalPlayer, "CBInternalPlayer", tr("Use Internal video player"), TabSheet2);
    check(CBShutdown, "CBShutdown", tr("Shutdown computer after conversion(s)"), TabSheet2);
    check(CBExitAC, "CBExitAC", tr("Exit program after conversion(s)"), TabSheet2);

    auto* cnxRow = new QHBoxLayout;
    cnxRow->addWidget(Label9);
    cnxRow->addWidget(UpDownCnx);
    cnxRow->addStretch(1);

    auto* page2 = new QVBoxLayout(TabSheet2);
    page2->addLayout(cnxRow);
    page2->addSpacing(10);
    for (QCheckBox* box : {CBSaveHist, CBRemoveStop, CBInternalPlayer, CBShutdown, CBExitAC})
        page2->addWidget(box);
    page2->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BOk);
    buttons->addWidget(BCancel);

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(PageControl1);
    outer->addLayout(buttons);
    // A dialog border: the size follows the contents, the user does not resize.
    outer->setSizeConstraint(QLayout::SetFixedSize);

    // Qt's tab order follows creation; give it the reading order instead.
    setTabOrder(CBVideoFor, CBDisableVideo);
    setTabOrder(CBDisableVideo, CBDxDy);
    setTabOrder(CBDxDy, CBVideoBitrate);
    setTabOrder(CBVideoBitrate, CBVFrameRate);
    setTabOrder(CBVFrameRate, CBVCodec);
    setTabOrder(CBVCodec, CBDisableAudio);
    setTabOrder(CBDisableAudio, CBAudioBitrate);
    setTabOrder(CBAudioBitrate, CBFreq);
    setTabOrder(CBFreq, CBChannels);
    setTabOrder(CBChannels, CBVolume);
    setTabOrder(CBVolume, CBACodec);
    setTabOrder(CBACodec, BDefault);

    connect(BOk, &QPushButton::clicked, this, &TFOptions::accept);
    connect(BCancel, &QPushButton::clicked, this, &TFOptions::reject);
    connect(BSelectDir, &QPushButton::clicked, this, &TFOptions::BSelectDirClick);
    connect(BDefault, &QPushButton::clicked, this, &TFOptions::BDefaultClick);
    connect(CBVideoFor, &QComboBox::currentIndexChanged, this, &TFOptions::CBVideoForChange);
    connect(CBDisableVideo, &QCheckBox::toggled, this, &TFOptions::CBDisableVideoClick);
    connect(CBDisableAudio, &QCheckBox::toggled, this, &TFOptions::CBDisableAudioClick);
}

const OutputProfile& TFOptions::profile() const
{
    return kProfiles[row_];
}

void TFOptions::load(const AppSettings& settings, const QString& caption)
{
    if (!caption.isEmpty())
        setWindowTitle(caption);
    EdDir->setText(Text(settings.destFolder));

    {
        const QSignalBlocker quiet(CBVideoFor);
        CBVideoFor->clear();
        for (int i = 0; i < kProfileCount; ++i)
            CBVideoFor->addItem(QString::fromUtf8(kProfiles[i].name));
        CBVideoFor->setCurrentIndex(ProfileIndexById(settings.profileId));
    }
    CBVideoForChange();

    // The stored values, each shown as the list's first entry when the list
    // does not hold it.
    const OutputProfile& p = profile();
    Select(CBDxDy, ListIndexOf(p.frameSizes, FrameSize{settings.width, settings.height}));
    Select(CBVideoBitrate, ListIndexOf(p.videoBitrates, settings.videoBitrate));
    Select(CBVFrameRate, ListIndexOf(p.frameRates, settings.frameRate));
    Select(CBVCodec, ListIndexOf(p.videoCodecs, settings.videoCodec.c_str()));
    Select(CBAudioBitrate, ListIndexOf(p.audioBitrates, settings.audioBitrate));
    Select(CBFreq, ListIndexOf(p.sampleRates, settings.sampleRate));
    Select(CBChannels, ListIndexOf(kChannelCounts, settings.channels));
    Select(CBACodec, ListIndexOf(p.audioCodecs, settings.audioCodec.c_str()));
    Select(CBVolume, settings.volume / kVolumeStep);
    // An audio-only profile hides Disable Audio; a set flag (hand-edited
    // file) could then neither be seen nor cleared, and would leave nothing
    // to convert.
    if (!p.audioOnly)
        CBDisableAudio->setChecked(settings.disableAudio != 0);
    CBDisableVideo->setChecked(settings.disableVideo != 0);

    UpDownCnx->setValue(std::clamp<int>(settings.maxConversions, kMinConversions, kMaxConversions));

    CBSaveHist->setChecked(settings.saveHistory != 0);
    CBRemoveStop->setChecked(settings.removeStopped != 0);
    CBInternalPlayer->setChecked(settings.internalPlayer != 0);
    CBShutdown->setChecked(settings.shutdownAfter != 0);
    CBExitAC->setChecked(settings.exitAfter != 0);
}

void TFOptions::commit(AppSettings& settings) const
{
    settings.destFolder = EdDir->text().toStdString();

    const OutputProfile& p = profile();
    settings.profileId = p.id;
    const FrameSize size = p.frameSizes[Selected(CBDxDy)];
    settings.width = static_cast<int16_t>(size.width);
    settings.height = static_cast<int16_t>(size.height);
    settings.videoBitrate = p.videoBitrates[Selected(CBVideoBitrate)];
    settings.frameRate = p.frameRates[Selected(CBVFrameRate)];
    settings.audioBitrate = p.audioBitrates[Selected(CBAudioBitrate)];
    settings.sampleRate = p.sampleRates[Selected(CBFreq)];
    settings.channels = kChannelCounts[Selected(CBChannels)];
    settings.volume = static_cast<int16_t>(Selected(CBVolume) * kVolumeStep);
    CommitCodec(settings.videoCodec, p.videoCodecs, p.videoCodec, Selected(CBVCodec));
    CommitCodec(settings.audioCodec, p.audioCodecs, p.audioCodec, Selected(CBACodec));
    settings.disableAudio = CBDisableAudio->isChecked() ? 1 : 0;
    settings.disableVideo = CBDisableVideo->isChecked() ? 1 : 0;

    settings.maxConversions = static_cast<int16_t>(UpDownCnx->value());

    settings.saveHistory = CBSaveHist->isChecked() ? 1 : 0;
    settings.removeStopped = CBRemoveStop->isChecked() ? 1 : 0;
    settings.internalPlayer = CBInternalPlayer->isChecked() ? 1 : 0;
    settings.shutdownAfter = CBShutdown->isChecked() ? 1 : 0;
    settings.exitAfter = CBExitAC->isChecked() ? 1 : 0;
}

void TFOptions::fillValueLists()
{
    const OutputProfile& p = profile();
    for (QComboBox* box : {CBDxDy, CBVideoBitrate, CBVFrameRate, CBVCodec, CBAudioBitrate, CBFreq, CBChannels,
                           CBVolume, CBACodec})
        box->clear();

    for (int i = 0; p.frameSizes[i].width != 0; ++i)
        CBDxDy->addItem(Text(FrameSizeText(p.frameSizes[i])));
    for (int i = 0; p.videoBitrates[i] != 0; ++i)
        CBVideoBitrate->addItem(Text(NumberText(p.videoBitrates[i])));
    for (int i = 0; p.frameRates[i] != 0.0f; ++i)
        CBVFrameRate->addItem(Text(FrameRateText(p.frameRates[i])));
    for (int i = 0; p.audioBitrates[i] != 0; ++i)
        CBAudioBitrate->addItem(Text(NumberText(p.audioBitrates[i])));
    for (int i = 0; p.sampleRates[i] != 0; ++i)
        CBFreq->addItem(Text(NumberText(p.sampleRates[i])));
    for (int i = 0; kChannelCounts[i] != 0; ++i)
        CBChannels->addItem(Text(ChannelText(kChannelCounts[i])));
    for (int percent = 0; percent <= kVolumeMax; percent += kVolumeStep)
        CBVolume->addItem(Text(VolumeText(percent)));
    FillCodecs(CBVCodec, p.videoCodecs, p.videoCodec);
    FillCodecs(CBACodec, p.audioCodecs, p.audioCodec);
}

void TFOptions::CBVideoForChange()
{
    row_ = ProfileIndexClamp(CBVideoFor->currentIndex());
    fillValueLists();
    BDefaultClick();
}

void TFOptions::BDefaultClick()
{
    const OutputProfile& p = profile();
    Select(CBDxDy, ListIndexOf(p.frameSizes, FrameSize{p.width, p.height}));
    Select(CBVideoBitrate, ListIndexOf(p.videoBitrates, p.videoBitrate));
    Select(CBVFrameRate, ListIndexOf(p.frameRates, p.frameRate));
    Select(CBVCodec, ListIndexOf(p.videoCodecs, p.videoCodec));
    Select(CBAudioBitrate, ListIndexOf(p.audioBitrates, p.audioBitrate));
    Select(CBFreq, ListIndexOf(p.sampleRates, p.sampleRate));
    Select(CBChannels, ListIndexOf(kChannelCounts, p.channels));
    Select(CBACodec, ListIndexOf(p.audioCodecs, p.audioCodec));
    Select(CBVolume, kVolumeDefaultEntry);

    if (p.audioOnly) {
        CBDisableVideo->setChecked(true);
        CBDisableAudio->setChecked(false);
        CBDisableVideo->setEnabled(false);
        CBDisableAudio->setEnabled(false);
        if (p.editable)
            setAudioListsEnabled(true);
        // The Audio group takes the whole row, as wide as both groups: the
        // dialog keeps its size and no empty half is left.
        const int spacing = std::max(0, TabSheet1->style()->layoutSpacing(
                                               QSizePolicy::GroupBox, QSizePolicy::GroupBox, Qt::Horizontal));
        int row = GroupVideo->sizeHint().width() + spacing + GroupBox2->sizeHint().width();
        // Once laid out, the row is where the two groups stand now.
        if (GroupVideo->isVisible() && GroupBox2->isVisible())
            row = std::max(row, GroupBox2->geometry().right() - GroupVideo->geometry().left() + 1);
        GroupVideo->setVisible(false);
        CBDisableAudio->setVisible(false);
        LabelAudioOnly->setVisible(true);
        GroupBox2->setMinimumWidth(row);
    } else {
        GroupBox2->setMinimumWidth(0);
        CBDisableVideo->setChecked(false);
        CBDisableAudio->setChecked(false);
        CBDisableVideo->setEnabled(true);
        CBDisableAudio->setEnabled(true);
        GroupVideo->setVisible(true);
        CBDisableAudio->setVisible(true);
        LabelAudioOnly->setVisible(false);
    }

    if (p.editable) {
        setVideoListsEnabled(true);
        if (!p.audioOnly)
            setAudioListsEnabled(true);
        applyDisableRule();
    } else {
        setVideoListsEnabled(false);
        setAudioListsEnabled(false);
    }
}

void TFOptions::setVideoListsEnabled(bool on)
{
    for (QComboBox* box : {CBDxDy, CBVideoBitrate, CBVFrameRate, CBVCodec})
        box->setEnabled(on);
}

void TFOptions::setAudioListsEnabled(bool on)
{
    for (QComboBox* box : {CBAudioBitrate, CBFreq, CBChannels, CBVolume, CBACodec})
        box->setEnabled(on);
}

void TFOptions::applyDisableRule()
{
    // A profile the user may not edit keeps its lists disabled; the two
    // boxes still count on the converter's command line.
    const OutputProfile& p = profile();
    if (!p.editable)
        return;
    setVideoListsEnabled(!CBDisableVideo->isChecked());
    if (!p.audioOnly)
        setAudioListsEnabled(!CBDisableAudio->isChecked());
}

void TFOptions::CBDisableVideoClick()
{
    applyDisableRule();
}

void TFOptions::CBDisableAudioClick()
{
    applyDisableRule();
}

void TFOptions::BSelectDirClick()
{
    std::string folder = EdDir->text().toStdString();
    if (BrowseForFolder(this, tr("Select Destination Folder"), 0, folder) == 1)
        EdDir->setText(Text(folder));
}

bool TFOptions::FormCloseQuery(int result)
{
    if (result == QDialog::Accepted && CBDisableVideo->isChecked() && CBDisableAudio->isChecked()) {
        AppMessageBox(this, 64, kProgramTitle, tr("Cannot disable both video and audio"));
        return false;
    }
    return true;
}

void TFOptions::accept()
{
    if (!FormCloseQuery(QDialog::Accepted))
        return;
    QDialog::accept();
}

bool ShowSettingsDialog(AppSettings& settings, const QString& caption, QWidget* parent)
{
    TFOptions dialog(parent);
    dialog.load(settings, caption);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.commit(settings);
    return true;
}
