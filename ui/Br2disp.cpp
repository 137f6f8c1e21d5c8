#include "ui/Br2disp.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

TFBR2Disp* FBR2Disp = nullptr;

TFBR2Disp::TFBR2Disp(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
    setObjectName("FBR2Disp");
    setWindowTitle(tr("Please Wait"));
    setModal(false);
    LBText = new QLabel(this);
    LBText->setObjectName("LBText");
    LBText->setWordWrap(true);
    LBText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(LBText);
    setMinimumSize(316, 70);
    resize(316, 70);
}

void TFBR2Disp::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ShowWaitMessage(const QString& caption, const QString& text) {
    CloseWaitMessage();
    FBR2Disp = new TFBR2Disp();
    FBR2Disp->setWindowTitle(caption);
    // Centred over the window the user is looking at, else on the screen.
    QRect area;
    if (QWidget* active = QApplication::activeWindow()) {
        area = active->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        QRect frame = FBR2Disp->frameGeometry();
        frame.moveCenter(area.center());
        FBR2Disp->move(frame.topLeft());
    }
    FBR2Disp->show();
    SetWaitText(text);
    FBR2Disp->repaint();
    QCoreApplication::processEvents();
}

void SetWaitText(const QString& text) {
    if (FBR2Disp != nullptr) FBR2Disp->LBText->setText(text);
}

void CloseWaitMessage() {
    if (FBR2Disp == nullptr) return;
    delete FBR2Disp;
    FBR2Disp = nullptr;
}
