// movenna: the converter's window. Every argument is a file or folder to add.
#include <QApplication>
#include <QMessageBox>

#include <exception>

#include "app/Main.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Movenna"));
    QApplication::setApplicationVersion(QStringLiteral(MOVENNA_VERSION));
    TFMainSetup setup;
    setup.desktopSession = true;
    for (int i = 1; i < argc; ++i) setup.arguments.emplace_back(argv[i]);
    try {
        TFMain window(setup);
        window.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, TFMain::Title(), QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
