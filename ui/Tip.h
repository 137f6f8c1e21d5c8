// TFTip: the tip of the day, one short usage tip at a time with Previous and
// Next, and the "Show at startup" check box.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QTextEdit;

// What the caller hands to the dialog and gets back.
struct TipTexts {
    std::string caption;
    std::string title;
    // Display order; stored as wrapped lines, a blank line between paragraphs.
    // The first entry always counts; the table ends at the first empty entry
    // after it.
    std::vector<std::string> tips;
    // In: the check box's first state. Out: its state when the dialog closed.
    bool showAtStart = true;
};

class TFTip : public QDialog {
    Q_OBJECT
  public:
    explicit TFTip(QWidget* parent = nullptr);

    QFrame* picContainer;
    QLabel* Image1;
    QLabel* LBTitle;
    QFrame* Shape2;
    QTextEdit* REText;
    QCheckBox* CBStartup;
    QPushButton* BitBtnPrevious;
    QPushButton* BitBtnNext;
    QPushButton* BitBtnClose;
    int helpContext = 0;

    // The tips and the counting rule of TipTexts; shows the first tip.
    void SetTips(const std::vector<std::string>& tips);
    void ShowTip();
    int TipIndex() const { return tipIndex; }
    int TipCount() const { return tipCount; }

    void BitBtnNextClick();
    void BitBtnPreviousClick();
    void BitBtnCloseClick();

    // Test seam: when set, ShowTipOfTheDay hands the filled-in dialog to this
    // function instead of running it; the function may press buttons and
    // tick the box as a user would. Tests reset it to nullptr when done.
    static std::function<void(TFTip& dialog)> answerForTests;

  private:
    std::vector<std::string> tipTable;
    int tipCount = 0;
    int tipIndex = 0;
};

// A tip as the dialog shows it: spaces before line breaks dropped, wrapped
// lines joined into one line per paragraph, blank lines between paragraphs kept.
std::string TipDisplayText(const std::string& tip);

// Runs the dialog modally and writes the check box's final state back into
// texts.showAtStart.
void ShowTipOfTheDay(TipTexts& texts, int helpContext);
void ShowTipOfTheDay(const std::string& caption, const std::string& title,
                     const std::vector<std::string>& tips, bool& showAtStart, int helpContext);

// The program's own caption, title and five tips, with showAtStart given.
TipTexts MovennaTipTexts(bool showAtStart);
