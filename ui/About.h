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
// The first line of "ffmpeg -version" of the ffmpeg at path, or
// "ffmpeg not found" when path is empty or the program gives no answer.
QString FfmpegVersionLineOf(const std::string& path);
// The line of the ffmpeg the converter would use; asked once per run.
QString FfmpegVersionLine();

// The about caption and text of the Help menu's About command.
QString AboutCaption();
QString AboutText();
