// The internal player's window: plays one file with play/pause, a seek bar,
// position and length, volume and full screen, and says plainly in the window
// when the file cannot be played.
#pragma once

#include <QWidget>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QSlider;
class QStackedWidget;
class QToolButton;
class QVideoWidget;

class PlayerWindow : public QWidget {
    Q_OBJECT
  public:
    explicit PlayerWindow(QWidget* parent = nullptr);

    // Starts playing path. False, with the reason shown in the window, when the
    // file is missing or no media back-end exists; errors found later while
    // loading are shown the same way.
    bool Open(const QString& path);

    // The reason shown when the file cannot be played; empty otherwise.
    QString ErrorText() const { return errorText; }
    qint64 Duration() const;
    QString TimeText() const;
    bool IsPlaying() const;

    void PlayPause();
    void ToggleFullScreen();
    void SeekBy(qint64 ms);
    void ChangeVolume(int delta);

    QMediaPlayer* player;
    QAudioOutput* audio;
    QVideoWidget* video;
    QStackedWidget* pages;
    QLabel* message;
    QWidget* controls;
    QToolButton* playButton;
    QSlider* seekSlider;
    QLabel* timeLabel;
    QToolButton* muteButton;
    QSlider* volumeSlider;
    QToolButton* fullScreenButton;

  signals:
    // The player failed for good: errorText holds the reason.
    void failed();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowError(const QString& text);
    void ShowMessage(const QString& text);
    void UpdateTime();
    void UpdatePlayButton();
    void MediaStatusChanged();

    QString filePath;
    QString errorText;
    bool seeking = false;
};

// "m:ss", or "h:mm:ss" from one hour on.
QString PlayerTimeText(qint64 ms);
