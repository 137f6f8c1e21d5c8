#include "ui/Edit.h"

#include "ui/Help.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <memory>

std::function<int(TFEdit& dialog)> TFEdit::answerForTests;

namespace {

// The first n bytes of text at most, never ending inside a UTF-8 character.
std::string CutUtf8(const std::string& text, int n) {
    if (n <= 0) return {};
    if (text.size() <= static_cast<size_t>(n)) return text;
    size_t end = static_cast<size_t>(n);
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

TFEdit::TFEdit(QWidget* parent) : QDialog(parent) {
    setObjectName("FEdit");
    setWindowTitle(tr("FEdit"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    LBPrompt = new QLabel(this);
    LBPrompt->setObjectName("LBPrompt");
    EdString = new QLineEdit(this);
    EdString->setObjectName("EdString");
    LBPrompt->setBuddy(EdString);

    BOk = new QPushButton(tr("O&K"), this);
    BOk->setObjectName("BOk");
    BOk->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    BOk->setDefault(true);
    BOk->setMinimumWidth(90);
    BCancel = new QPushButton(tr("&Cancel"), this);
    BCancel->setObjectName("BCancel");
    BCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    BCancel->setMinimumWidth(90);
    connect(BOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(BCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BOk);
    buttons->addWidget(BCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 14, 12, 12);
    layout->addWidget(LBPrompt);
    layout->addWidget(EdString);
    layout->addStretch(1);
    layout->addLayout(buttons);

    setTabOrder(EdString, BOk);
    setTabOrder(BOk, BCancel);
    EdString->setFocus();
    resize(374, 114);
}

void TFEdit::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Opened without an owner: centre it on the screen.
    if (parentWidget() == nullptr) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

bool PromptForText(const QString& caption, const QString& prompt, int helpContext, std::string& text, int size) {
    auto dialog = std::make_unique<TFEdit>();
    dialog->helpContext = helpContext;
    InstallHelpKey(dialog.get(), helpContext);
    dialog->setWindowTitle(caption);
    dialog->LBPrompt->setText(prompt);
    dialog->EdString->setText(QString::fromStdString(text));
    dialog->EdString->selectAll();
    // Closing with the title-bar button rejects, like Cancel.
    const int result = TFEdit::answerForTests ? TFEdit::answerForTests(*dialog) : dialog->exec();
    if (result != QDialog::Accepted) return false;
    text = CutUtf8(dialog->EdString->text().toStdString(), size - 2);
    return true;
}

bool PromptForNonEmptyText(const QString& caption, const QString& prompt, int helpContext, std::string& text,
                           int size) {
    // A size that keeps no character could never end the loop.
    if (size < 3) return false;
    bool ok;
    do {
        ok = PromptForText(caption, prompt, helpContext, text, size);
    } while (ok && text.empty());
    return ok;
}
