#include "ui/About.h"

#include "ui/Help.h"
#include "ui/Icons.h"
#include "util/files.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

std::function<void(TFBAbout& box)> TFBAbout::answerForTests;

namespace {

QString FfmpegNotFoundText() {
    return QCoreApplication::translate("TFBAbout", "ffmpeg not found");
}

// One question per run; whoever asks while it is on its way waits for the same answer.
struct FfmpegLookup {
    QString line;
    bool asking = false;
    std::vector<std::function<void(const QString&)>> waiting;
};

FfmpegLookup& Lookup() {
    static FfmpegLookup lookup;
    return lookup;
}

// done, unless it was tied to an object that has gone since.
std::function<void(const QString&)> GuardedBy(QObject* context,
                                              std::function<void(const QString&)> done) {
    return [guard = QPointer<QObject>(context), tied = context != nullptr,
            done = std::move(done)](const QString& line) {
        if (tied && guard.isNull()) return;
        done(line);
    };
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

} // namespace

TFBAbout::TFBAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("FBAbout");
    setWindowTitle(tr("About"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(ProgramIcon().pixmap(48, 48));
    Image1->setFixedSize(48, 48);

    Id1 = new QLabel(tr("Caption"), this);
    Id1->setObjectName("Id1");
    Id1->setTextFormat(Qt::PlainText);
    Id1->setWordWrap(false);
    Id1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Id1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    BitBtn1 = new QPushButton(tr("&OK"), this);
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
    // ffmpeg may take a while to answer: the box opens at once and the line
    // is filled in when it comes.
    const QString looking = FfmpegLookingText();
    if (text.contains(looking)) {
        RequestFfmpegVersionLine(&box, [&box, looking](const QString& line) {
            box.Id1->setText(box.Id1->text().replace(looking, line));
            box.adjustSize();
        });
    }
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

void AskFfmpegVersion(const std::string& path, QObject* context,
                      std::function<void(const QString& line)> done, int timeoutMs) {
    auto answer = GuardedBy(context, std::move(done));
    if (path.empty()) {
        answer(FfmpegNotFoundText());
        return;
    }
    // Owned by the application so that a question still open at exit ends with it.
    auto* ffmpeg = new QProcess(QCoreApplication::instance());
    ffmpeg->setProcessChannelMode(QProcess::SeparateChannels);
    ffmpeg->setStandardInputFile(QProcess::nullDevice());
    auto settled = std::make_shared<bool>(false);
    auto settle = [ffmpeg, settled, answer](const QString& line) {
        if (*settled) return;
        *settled = true;
        ffmpeg->disconnect();
        if (ffmpeg->state() != QProcess::NotRunning) {
            // Reaped when it is gone, so the GUI thread never waits for it.
            QObject::connect(ffmpeg, &QProcess::finished, ffmpeg, &QObject::deleteLater);
            ffmpeg->kill();
        } else {
            ffmpeg->deleteLater();
        }
        answer(line);
    };
    QObject::connect(ffmpeg, &QProcess::finished, ffmpeg, [ffmpeg, settle] {
        QString line = QString::fromUtf8(ffmpeg->readAllStandardOutput()).section('\n', 0, 0);
        // "ffmpeg version 5.1 Copyright (c) ...": the version is what the box needs.
        const qsizetype copyright = line.indexOf(QLatin1String(" Copyright"));
        if (copyright > 0) line.truncate(copyright);
        line = line.trimmed();
        settle(line.startsWith(QLatin1String("ffmpeg")) ? line : FfmpegNotFoundText());
    });
    QObject::connect(ffmpeg, &QProcess::errorOccurred, ffmpeg, [settle](QProcess::ProcessError e) {
        // Other errors are followed by finished.
        if (e == QProcess::FailedToStart) settle(FfmpegNotFoundText());
    });
    QTimer::singleShot(timeoutMs, ffmpeg, [settle] { settle(FfmpegNotFoundText()); });
    ffmpeg->start(QString::fromStdString(path), {"-version"}, QIODevice::ReadOnly);
}

QString FfmpegVersionLine() {
    return Lookup().line;
}

void RequestFfmpegVersionLine(QObject* context, std::function<void(const QString& line)> done) {
    FfmpegLookup& lookup = Lookup();
    auto answer = GuardedBy(context, std::move(done));
    if (!lookup.line.isEmpty()) {
        answer(lookup.line);
        return;
    }
    lookup.waiting.push_back(std::move(answer));
    if (lookup.asking) return;
    lookup.asking = true;
    std::string folder;
    ProgramFolder(folder);
    const char* path = std::getenv("PATH");
    AskFfmpegVersion(FindFfmpegFor(folder, path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin"),
                     nullptr, [](const QString& line) {
                         FfmpegLookup& l = Lookup();
                         l.line = line;
                         l.asking = false;
                         const auto waiting = std::move(l.waiting);
                         l.waiting.clear();
                         for (const auto& w : waiting)
                             w(line);
                     });
}

void ForgetFfmpegVersionLine() {
    Lookup().line.clear();
}

QString FfmpegLookingText() {
    return QCoreApplication::translate("TFBAbout", "ffmpeg: looking...");
}

QString AboutCaption() {
    return QCoreApplication::translate("TFBAbout", "About Movenna");
}

QString AboutText() {
    QString line = FfmpegVersionLine();
    if (line.isEmpty()) {
        RequestFfmpegVersionLine(nullptr, [](const QString&) {});
        line = FfmpegVersionLine(); // known at once when no ffmpeg was found
        if (line.isEmpty()) line = FfmpegLookingText();
    }
    return QCoreApplication::translate(
               "TFBAbout",
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
        .arg(QStringLiteral(MOVENNA_VERSION), line);
}
