#include "ui/Tip.h"

#include "ui/Help.h"
#include "util/textutil.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextEdit>
#include <QVBoxLayout>
#include <memory>

std::function<void(TFTip& dialog)> TFTip::answerForTests;

namespace {

// Stored as wrapped lines: the dialog joins each paragraph into one line.
constexpr const char* kTipCaption = QT_TRANSLATE_NOOP("TFTip", "Tip of the Day");
constexpr const char* kTipTitle = QT_TRANSLATE_NOOP("TFTip", "Did you know...");
constexpr const char* kTips[] = {
    QT_TRANSLATE_NOOP("TFTip",
        "You can add a whole folder of videos at once: drag the folder from your\n"
        "file manager and drop it on the Movenna window.\n"
        "\n"
        "Movenna searches the folder and all its sub-folders and adds every video\n"
        "and audio file it can convert."),

    QT_TRANSLATE_NOOP("TFTip",
        "Movenna can run several conversions at the same time. Choose how many in\n"
        "Options > Settings, page General, \"Max concurrent conversions (1-20)\".\n"
        "\n"
        "One conversion per processor core is a good start."),

    QT_TRANSLATE_NOOP("TFTip",
        "To keep the picture size of the source, choose a format that lets you\n"
        "change its values (MPEG-4 video, for example), open Options > Settings\n"
        "and pick \"Original\" under Frame Size."),

    QT_TRANSLATE_NOOP("TFTip",
        "The converted files go into the Destination Folder shown above the list.\n"
        "Click \"...\" beside it to choose another folder.\n"
        "\n"
        "File > Open Destination Folder shows the folder in your file manager."),

    QT_TRANSLATE_NOOP("TFTip",
        "To stop one conversion and let the others go on, select it in the list\n"
        "and press Ctrl+T (File > Stop Conversion).\n"
        "\n"
        "Esc (File > Stop All) stops every conversion."),
};

} // namespace

std::string TipDisplayText(const std::string& tip) {
    // Each pass needs at most the text's length; the 10 spare bytes keep the
    // terminator and any off-by-one well inside the buffer.
    const size_t size = tip.size() + 10;
    auto dropped = std::make_unique<char[]>(size);
    auto joined = std::make_unique<char[]>(size);
    TextDropSpacesBeforeBreaks(dropped.get(), tip.c_str());
    TextJoinWrappedLines(joined.get(), dropped.get());
    return joined.get();
}

TFTip::TFTip(QWidget* parent) : QDialog(parent) {
    setObjectName("FTip");
    setWindowTitle(tr("Tip of the Day"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    HelpEnsureResources();

    picContainer = new QFrame(this);
    picContainer->setObjectName("picContainer");
    picContainer->setFrameShape(QFrame::Box);
    picContainer->setStyleSheet("#picContainer { background: white; border: 1px solid #7a7a7a; }");

    Image1 = new QLabel(picContainer);
    Image1->setObjectName("Image1");
    Image1->setPixmap(QIcon(":/help/images/tip.svg").pixmap(32, 32));
    Image1->setFixedSize(32, 32);

    LBTitle = new QLabel(tr("Did you know..."), picContainer);
    LBTitle->setObjectName("LBTitle");
    QFont titleFont = LBTitle->font();
    titleFont.setBold(true);
    titleFont.setPixelSize(19);
    LBTitle->setFont(titleFont);
    LBTitle->setStyleSheet("background: white; color: black;");

    Shape2 = new QFrame(picContainer);
    Shape2->setObjectName("Shape2");
    Shape2->setFixedHeight(2);
    Shape2->setStyleSheet("background: black;");

    REText = new QTextEdit(picContainer);
    REText->setObjectName("REText");
    REText->setReadOnly(true);
    REText->setFrameShape(QFrame::NoFrame);
    REText->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    REText->setStyleSheet("QTextEdit { background: white; color: black; }");
    REText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    REText->setMinimumSize(377, 161);

    auto* head = new QHBoxLayout;
    head->setSpacing(16);
    head->addWidget(Image1, 0, Qt::AlignTop);
    head->addWidget(LBTitle, 1, Qt::AlignVCenter);

    auto* inner = new QVBoxLayout(picContainer);
    inner->setContentsMargins(12, 12, 12, 8);
    inner->setSpacing(8);
    inner->addLayout(head);
    inner->addWidget(Shape2);
    inner->addWidget(REText, 1);

    CBStartup = new QCheckBox(tr("Show at startup"), this);
    CBStartup->setObjectName("CBStartup");

    BitBtnPrevious = new QPushButton(tr("&Previous"), this);
    BitBtnPrevious->setObjectName("BitBtnPrevious");
    BitBtnPrevious->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    BitBtnNext = new QPushButton(tr("&Next"), this);
    BitBtnNext->setObjectName("BitBtnNext");
    BitBtnNext->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
    BitBtnClose = new QPushButton(tr("&Close"), this);
    BitBtnClose->setObjectName("BitBtnClose");
    BitBtnClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    BitBtnClose->setDefault(true);
    for (QPushButton* b : {BitBtnPrevious, BitBtnNext, BitBtnClose}) {
        b->setMinimumWidth(90);
        b->setAutoDefault(false);
    }
    BitBtnClose->setAutoDefault(true);
    connect(BitBtnPrevious, &QPushButton::clicked, this, &TFTip::BitBtnPreviousClick);
    connect(BitBtnNext, &QPushButton::clicked, this, &TFTip::BitBtnNextClick);
    connect(BitBtnClose, &QPushButton::clicked, this, &TFTip::BitBtnCloseClick);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CBStartup);
    buttons->addStretch(1);
    buttons->addWidget(BitBtnPrevious);
    buttons->addWidget(BitBtnNext);
    buttons->addWidget(BitBtnClose);

    auto* bottomRule = new QFrame(this);
    bottomRule->setFixedHeight(2);
    bottomRule->setStyleSheet("background: black;");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 8, 16, 0);
    layout->setSpacing(12);
    layout->addWidget(picContainer, 1);
    layout->addLayout(buttons);
    layout->addWidget(bottomRule);

    // Escape, the close box and Close all end the dialog as a cancel.
    BitBtnClose->setFocus();
    resize(470, 320);
}

void TFTip::SetTips(const std::vector<std::string>& tips) {
    tipTable = tips;
    if (tipTable.empty()) {
        tipCount = 0;
    } else {
        // The counting rule of the table: the first entry always counts, the
        // rest up to the first empty text.
        std::vector<const char*> array;
        for (const std::string& t : tipTable)
            array.push_back(t.c_str());
        array.push_back("");
        StrArrayLongest(array.data(), nullptr, &tipCount);
    }
    tipIndex = 0;
    ShowTip();
}

void TFTip::ShowTip() {
    if (tipCount >= 1)
        REText->setPlainText(QString::fromStdString(TipDisplayText(tipTable[tipIndex])));
    const bool paging = tipCount >= 2;
    BitBtnPrevious->setEnabled(paging && tipIndex > 0);
    BitBtnNext->setEnabled(paging && tipIndex < tipCount - 1);
}

void TFTip::BitBtnNextClick() {
    if (tipIndex < tipCount - 1) ++tipIndex;
    ShowTip();
}

void TFTip::BitBtnPreviousClick() {
    if (tipIndex > 0) --tipIndex;
    ShowTip();
}

void TFTip::BitBtnCloseClick() {
    reject();
}

void ShowTipOfTheDay(TipTexts& texts, int helpContext) {
    // Owned by the window in front so that it opens centred over it.
    TFTip dialog(QApplication::activeWindow());
    dialog.helpContext = helpContext;
    InstallHelpKey(&dialog, helpContext);
    dialog.setWindowTitle(QString::fromStdString(texts.caption));
    dialog.LBTitle->setText(QString::fromStdString(texts.title));
    dialog.SetTips(texts.tips);
    dialog.CBStartup->setChecked(texts.showAtStart);
    if (TFTip::answerForTests)
        TFTip::answerForTests(dialog);
    else
        dialog.exec();
    texts.showAtStart = dialog.CBStartup->isChecked();
}

void ShowTipOfTheDay(const std::string& caption, const std::string& title,
                     const std::vector<std::string>& tips, bool& showAtStart, int helpContext) {
    TipTexts texts{.caption = caption, .title = title, .tips = tips, .showAtStart = showAtStart};
    ShowTipOfTheDay(texts, helpContext);
    showAtStart = texts.showAtStart;
}

TipTexts MovennaTipTexts(bool showAtStart) {
    auto translated = [](const char* text) {
        return QCoreApplication::translate("TFTip", text).toStdString();
    };
    TipTexts texts{.caption = translated(kTipCaption),
                   .title = translated(kTipTitle),
                   .tips = {},
                   .showAtStart = showAtStart};
    for (const char* tip : kTips)
        texts.tips.push_back(translated(tip));
    return texts;
}
