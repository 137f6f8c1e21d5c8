// TFBAbout: the about box, and the program's about text with the version, the
// licence and the ffmpeg found at run time.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

class TFBAbout : public QDialog {
    Q_OBJECT
  public:
    explicit TFBAbout(QWidget* parent = nullptr);

    QLabel* Image1;
    QPushButton* BitBtn1;
    QLabel* Id1;
    int helpContext = 0;

    // Test seam: when set, ShowAbout hands the filled-in box to this function
    // instead of running it. Tests reset it to nullptr when done.
    static std::function<void(TFBAbout& box)> answerForTests;
};

// Shows the box modally with caption and text; the label grows with the
// text instead of wrapping it.
void ShowAbout(const QString& caption, const QString& text, int helpContext);

// ffmpeg beside the running program first, then on searchPath (PATH's form).
// Empty when neither has an executable one.
std::string FindFfmpegFor(const std::string& programFolder, const std::string& searchPath);

// How long ffmpeg may take to say its version before it counts as not found.
constexpr int kFfmpegAnswerMs = 5000;
// Asks the ffmpeg at path for the first line of "ffmpeg -version" without
// waiting for it: done gets that line, or "ffmpeg not found" when path is
// empty, the program cannot run, says something else or takes longer than
// timeoutMs. done runs on the GUI thread (at once for an empty path), and not
// at all when context is given and is destroyed first.
void AskFfmpegVersion(const std::string& path, QObject* context,
                      std::function<void(const QString& line)> done,
                      int timeoutMs = kFfmpegAnswerMs);

// The line of the ffmpeg the converter would use, asked once per run; empty
// until the answer is in.
QString FfmpegVersionLine();
// Starts the question when nobody has asked yet; done gets the line (at once
// when it is known), unless context is destroyed first.
void RequestFfmpegVersionLine(QObject* context, std::function<void(const QString& line)> done);
// Forgets the answer so that the next request asks again.
void ForgetFfmpegVersionLine();
// Stands in the about text for the line while the answer is on its way.
QString FfmpegLookingText();

// The about caption and text of the Help menu's About command. The text holds
// FfmpegLookingText() until the answer is in; ShowAbout fills it in then.
QString AboutCaption();
QString AboutText();
