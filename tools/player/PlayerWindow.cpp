#include "PlayerWindow.h"

#include "ui/Icons.h"

#include <QAudioOutput>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaPlayer>
#include <QShortcut>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace {

constexpr qint64 kSeekStepMs = 5000;

QString BackEndMissingText() {
    return PlayerWindow::tr(
        "No media back-end is available, so nothing can be played.\n\n"
        "Install the GStreamer plugins, for example:\n"
        "sudo apt install gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav");
}

QString CannotPlayReason() {
    return PlayerWindow::tr(
        "It is not a video or audio file, or it is damaged, or its format needs a GStreamer plugin "
        "that is not installed (gstreamer1.0-plugins-bad, gstreamer1.0-libav).");
}

} // namespace

QString PlayerTimeText(qint64 ms) {
    if (ms < 0) ms = 0;
    const qint64 total = ms / 1000;
    const qint64 h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

PlayerWindow::PlayerWindow(QWidget* parent) : QWidget(parent) {
    setObjectName("PlayerWindow");
    setWindowTitle(tr("Movenna Player"));
    setWindowIcon(ProgramIcon());

    player = new QMediaPlayer(this);
    audio = new QAudioOutput(this);
    player->setAudioOutput(audio);

    video = new QVideoWidget;
    video->setObjectName("video");
    video->installEventFilter(this);
    player->setVideoOutput(video);

    message = new QLabel;
    message->setObjectName("message");
    message->setAlignment(Qt::AlignCenter);
    message->setWordWrap(true);
    message->setMargin(24);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->setStyleSheet("QLabel { background: #202020; color: #f0f0f0; font-size: 11pt; }");
    message->installEventFilter(this);

    pages = new QStackedWidget;
    pages->setObjectName("pages");
    pages->setStyleSheet("#pages { background: black; }");
    video->setStyleSheet("background: black;");
    pages->addWidget(video);
    pages->addWidget(message);

    playButton = new QToolButton;
    playButton->setObjectName("playButton");
    playButton->setToolTip(tr("Play / Pause (Space)"));
    playButton->setAutoRaise(true);
    connect(playButton, &QToolButton::clicked, this, &PlayerWindow::PlayPause);

    seekSlider = new QSlider(Qt::Horizontal);
    seekSlider->setObjectName("seekSlider");
    seekSlider->setRange(0, 0);
    seekSlider->setToolTip(tr("Position (Left / Right: 5 seconds)"));
    connect(seekSlider, &QSlider::sliderPressed, this, [this] { seeking = true; });
    connect(seekSlider, &QSlider::sliderReleased, this, [this] {
        seeking = false;
        player->setPosition(seekSlider->value());
    });
    // A click on the groove or a key moves the slider without dragging it.
    connect(seekSlider, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove)
            player->setPosition(seekSlider->sliderPosition());
    });
    connect(seekSlider, &QSlider::sliderMoved, this, [this](int value) {
        timeLabel->setText(PlayerTimeText(value) + QStringLiteral(" / ") +
                           PlayerTimeText(player->duration()));
    });

    timeLabel = new QLabel;
    timeLabel->setObjectName("timeLabel");
    timeLabel->setMinimumWidth(timeLabel->fontMetrics().horizontalAdvance("00:00:00 / 00:00:00"));
    timeLabel->setAlignment(Qt::AlignCenter);

    muteButton = new QToolButton;
    muteButton->setObjectName("muteButton");
    muteButton->setAutoRaise(true);
    muteButton->setCheckable(true);
    muteButton->setToolTip(tr("Mute"));
    muteButton->setIcon(style()->standardIcon(QStyle::SP_MediaVolume));
    connect(muteButton, &QToolButton::toggled, this, [this](bool muted) {
        audio->setMuted(muted);
        muteButton->setIcon(
            style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    });

    volumeSlider = new QSlider(Qt::Horizontal);
    volumeSlider->setObjectName("volumeSlider");
    volumeSlider->setRange(0, 100);
    volumeSlider->setValue(80);
    volumeSlider->setFixedWidth(100);
    volumeSlider->setToolTip(tr("Volume (Up / Down)"));
    audio->setVolume(0.8f);
    connect(volumeSlider, &QSlider::valueChanged, this,
            [this](int v) { audio->setVolume(static_cast<float>(v) / 100.0f); });

    // A way out from the keyboard, also full screen or without a title bar.
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_Q)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);

    fullScreenButton = new QToolButton;
    fullScreenButton->setObjectName("fullScreenButton");
    fullScreenButton->setAutoRaise(true);
    fullScreenButton->setText(tr("Full screen"));
    fullScreenButton->setToolTip(tr("Full screen (F or double click; Esc leaves)"));
    fullScreenButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarMaxButton));
    connect(fullScreenButton, &QToolButton::clicked, this, &PlayerWindow::ToggleFullScreen);

    controls = new QWidget;
    auto* bar = new QHBoxLayout(controls);
    bar->setContentsMargins(6, 4, 6, 4);
    bar->addWidget(playButton);
    bar->addWidget(seekSlider, 1);
    bar->addWidget(timeLabel);
    bar->addSpacing(8);
    bar->addWidget(muteButton);
    bar->addWidget(volumeSlider);
    bar->addWidget(fullScreenButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pages, 1);
    layout->addWidget(controls);

    connect(player, &QMediaPlayer::durationChanged, this, [this](qint64 d) {
        seekSlider->setRange(0, static_cast<int>(qMin<qint64>(d, INT_MAX)));
        UpdateTime();
    });
    connect(player, &QMediaPlayer::positionChanged, this, [this](qint64 p) {
        if (!seeking) {
            const QSignalBlocker block(seekSlider);
            seekSlider->setValue(static_cast<int>(qMin<qint64>(p, INT_MAX)));
        }
        UpdateTime();
    });
    connect(player, &QMediaPlayer::playbackStateChanged, this, &PlayerWindow::UpdatePlayButton);
    connect(player, &QMediaPlayer::mediaStatusChanged, this, &PlayerWindow::MediaStatusChanged);
    connect(player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString& why) {
                if (error == QMediaPlayer::NoError) return;
                // The back-end's own words are terse ("Internal data stream error"):
                // lead with what the user can act on, keep them as the detail.
                QString text = tr("Movenna Player cannot play this file:\n%1\n\n%2")
                                   .arg(QDir::toNativeSeparators(filePath), CannotPlayReason());
                if (!why.isEmpty()) text += QStringLiteral("\n\n(%1)").arg(why);
                ShowError(text);
            });

    setFocusPolicy(Qt::StrongFocus);
    UpdatePlayButton();
    UpdateTime();
    resize(800, 520);
}

bool PlayerWindow::Open(const QString& path) {
    filePath = path;
    errorText.clear();
    const QFileInfo info(path);
    setWindowTitle(info.fileName().isEmpty()
                       ? tr("Movenna Player")
                       : tr("%1 - Movenna Player").arg(info.fileName()));
    if (path.isEmpty() || !info.exists()) {
        ShowError(
            tr("The file cannot be found:\n%1").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    if (info.isDir()) {
        ShowError(tr("This is a folder, not a video or audio file:\n%1")
                      .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    if (!info.isReadable()) {
        ShowError(
            tr("The file cannot be read:\n%1").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    if (!player->isAvailable()) {
        ShowError(BackEndMissingText());
        return false;
    }
    pages->setCurrentWidget(video);
    player->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    player->play();
    return errorText.isEmpty();
}

qint64 PlayerWindow::Duration() const {
    return player->duration();
}

QString PlayerWindow::TimeText() const {
    return timeLabel->text();
}

bool PlayerWindow::IsPlaying() const {
    return player->playbackState() == QMediaPlayer::PlayingState;
}

void PlayerWindow::PlayPause() {
    if (!errorText.isEmpty()) return;
    if (IsPlaying())
        player->pause();
    else
        player->play();
}

void PlayerWindow::ToggleFullScreen() {
    if (isFullScreen()) {
        showNormal();
        controls->show();
    } else {
        controls->hide();
        showFullScreen();
    }
}

void PlayerWindow::SeekBy(qint64 ms) {
    if (!player->isSeekable()) return;
    player->setPosition(qBound<qint64>(0, player->position() + ms, player->duration()));
}

void PlayerWindow::ChangeVolume(int delta) {
    volumeSlider->setValue(volumeSlider->value() + delta);
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_MediaTogglePlayPause:
        PlayPause();
        break;
    case Qt::Key_F:
        ToggleFullScreen();
        break;
    case Qt::Key_Escape:
        if (isFullScreen()) ToggleFullScreen();
        break;
    case Qt::Key_Left:
        SeekBy(-kSeekStepMs);
        break;
    case Qt::Key_Right:
        SeekBy(kSeekStepMs);
        break;
    case Qt::Key_Up:
        ChangeVolume(5);
        break;
    case Qt::Key_Down:
        ChangeVolume(-5);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool PlayerWindow::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == video || watched == message) && event->type() == QEvent::MouseButtonDblClick) {
        ToggleFullScreen();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void PlayerWindow::ShowError(const QString& text) {
    errorText = text;
    if (player->playbackState() != QMediaPlayer::StoppedState) player->stop();
    ShowMessage(text);
    playButton->setEnabled(false);
    seekSlider->setEnabled(false);
    emit failed();
}

void PlayerWindow::ShowMessage(const QString& text) {
    message->setText(text);
    pages->setCurrentWidget(message);
}

void PlayerWindow::UpdateTime() {
    timeLabel->setText(PlayerTimeText(player->position()) + QStringLiteral(" / ") +
                       PlayerTimeText(player->duration()));
}

void PlayerWindow::UpdatePlayButton() {
    const bool playing = IsPlaying();
    playButton->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    playButton->setToolTip(playing ? tr("Pause (Space)") : tr("Play (Space)"));
}

void PlayerWindow::MediaStatusChanged() {
    switch (player->mediaStatus()) {
    case QMediaPlayer::InvalidMedia:
        if (errorText.isEmpty())
            ShowError(tr("Movenna Player cannot play this file:\n%1\n\n%2")
                          .arg(QDir::toNativeSeparators(filePath), CannotPlayReason()));
        break;
    case QMediaPlayer::LoadedMedia:
    case QMediaPlayer::BufferedMedia:
        // Sound only: say so instead of showing an empty black picture.
        if (errorText.isEmpty() && !player->hasVideo() && player->hasAudio())
            ShowMessage(
                tr("Playing sound only:\n%1").arg(QFileInfo(filePath).fileName()));
        break;
    case QMediaPlayer::EndOfMedia:
        // Back to the start, paused there: a stopped player shows a black
        // picture, a paused one its frame at the position.
        player->pause();
        player->setPosition(0);
        break;
    default:
        break;
    }
}
