#include "ui/About.h"

#include "ui/Help.h"
#include "ui/Icons.h"
#include "util/files.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::function<void(TFBAbout& box)> TFBAbout::answerForTests;

namespace {

constexpr const char* kFfmpegNotFound = "ffmpeg not found";

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

} // namespace

TFBAbout::TFBAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("FBAbout");
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(ProgramIcon().pixmap(48, 48));
    Image1->setFixedSize(48, 48);

    Id1 = new QLabel("Caption", this);
    Id1->setObjectName("Id1");
    Id1->setTextFormat(Qt::PlainText);
    Id1->setWordWrap(false);
    Id1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Id1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    BitBtn1 = new QPushButton("&OK", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    BitBtn1->setDefault(true);
    BitBtn1->setMinimumWidth(90);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->setSpacing(20);
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addWidget(Id1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(17, 17, 17, 17);
    layout->setSpacing(17);
    layout->addLayout(top);
    layout->addLayout(buttons);
    // The box takes the size of its text: a long line widens it.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void ShowAbout(const QString& caption, const QString& text, int helpContext) {
    // Owned by the window in front so that it opens centred over it.
    TFBAbout box(QApplication::activeWindow());
    box.helpContext = helpContext;
    InstallHelpKey(&box, helpContext);
    box.setWindowTitle(caption);
    box.Id1->setText(text);
    box.adjustSize();
    if (TFBAbout::answerForTests)
        TFBAbout::answerForTests(box);
    else
        box.exec();
}

std::string FindFfmpegFor(const std::string& programFolder, const std::string& searchPath) {
    if (!programFolder.empty()) {
        std::string beside = programFolder;
        if (PathJoin(beside, "ffmpeg") && IsExecutableFile(beside)) return beside;
    }
    size_t start = 0;
    for (;;) {
        const size_t colon = searchPath.find(':', start);
        std::string dir = searchPath.substr(start, colon == std::string::npos ? std::string::npos
                                                                              : colon - start);
        // An empty PATH entry means the current folder.
        if (dir.empty()) dir = ".";
        std::string candidate = dir;
        if (!searchPath.empty() && PathJoin(candidate, "ffmpeg") && IsExecutableFile(candidate))
            return candidate;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return {};
}

QString FfmpegVersionLineOf(const std::string& path) {
    if (path.empty()) return kFfmpegNotFound;
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::SeparateChannels);
    ffmpeg.start(QString::fromStdString(path), {"-version"});
    if (!ffmpeg.waitForStarted(5000)) return kFfmpegNotFound;
    ffmpeg.closeWriteChannel();
    if (!ffmpeg.waitForFinished(10000)) {
        ffmpeg.kill();
        ffmpeg.waitForFinished(1000);
        return kFfmpegNotFound;
    }
    const QString line =
        QString::fromUtf8(ffmpeg.readAllStandardOutput()).section('\n', 0, 0).trimmed();
    return line.startsWith(QLatin1String("ffmpeg")) ? line : QString(kFfmpegNotFound);
}

QString FfmpegVersionLine() {
    static const QString line = [] {
        std::string folder;
        ProgramFolder(folder);
        const char* path = std::getenv("PATH");
        return FfmpegVersionLineOf(
            FindFfmpegFor(folder, path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin"));
    }();
    return line;
}

QString AboutCaption() {
    return QStringLiteral("About Movenna");
}

QString AboutText() {
    return QStringLiteral(
               "Movenna %1\n"
               "Batch video and audio converter\n"
               "\n"
               "Converts video and audio files into 17 formats,\n"
               "several files at a time, with ffmpeg doing the work.\n"
               "\n"
               "Licence: GNU General Public License, version 3 or later (GPL-3.0-or-later).\n"
               "Movenna comes with ABSOLUTELY NO WARRANTY.\n"
               "\n"
               "Media engine: %2")
        .arg(QStringLiteral(MOVENNA_VERSION), FfmpegVersionLine());
}
