// TFEdit: the modal dialog that asks for one line of text, and the two
// functions the program uses it through.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class TFEdit : public QDialog {
    Q_OBJECT
public:
    explicit TFEdit(QWidget* parent = nullptr);

    QLabel* LBPrompt;
    QLineEdit* EdString;
    QPushButton* BOk;
    QPushButton* BCancel;
    int helpContext = 0;

    // Test seam: when set, PromptForText hands the filled-in dialog to this
    // function instead of showing it, and takes its return value as the
    // dialog's result (QDialog::Accepted or Rejected). The function may change
    // EdString first, as a user would. Tests reset it to nullptr when done.
    static std::function<int(TFEdit& dialog)> answerForTests;

protected:
    void showEvent(QShowEvent* event) override;
};

// Shows the dialog with text as the initial entry. On OK, text receives the
// entry, at most size - 2 bytes of it (cut on a UTF-8 character boundary), and
// the result is true; otherwise text is unchanged and the result false.
bool PromptForText(const QString& caption, const QString& prompt, int helpContext, std::string& text, int size);
// As PromptForText, but asks again, with an empty entry, while the user
// confirms an empty text. False at once when size leaves room for no text.
bool PromptForNonEmptyText(const QString& caption, const QString& prompt, int helpContext, std::string& text,
                           int size);
