// TFBR2Disp: the "Please Wait" window shown while the program does something
// slow on the GUI thread. Not modal, stays on top, has no title-bar buttons.
#pragma once

#include <QDialog>

class QLabel;

class TFBR2Disp : public QDialog {
    Q_OBJECT
public:
    explicit TFBR2Disp(QWidget* parent = nullptr);
    QLabel* LBText;

protected:
    // Escape would hide it before the slow work is done. Closing it otherwise
    // (window manager, application quit) stays possible.
    void keyPressEvent(QKeyEvent* event) override;
};

// The one wait window that exists, or nullptr.
extern TFBR2Disp* FBR2Disp;

// Creates and shows the wait window (closing an earlier one first) and lets
// the application process its pending events once so that it is painted.
void ShowWaitMessage(const QString& caption, const QString& text);
void SetWaitText(const QString& text);
// Destroys the wait window when there is one.
void CloseWaitMessage();
