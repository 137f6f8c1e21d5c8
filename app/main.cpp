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
    setup.updateCheck = true;
    setup.tipAtStart = true;
    setup.powerOff = true;
    for (int i = 1; i < argc; ++i) setup.arguments.emplace_back(argv[i]);
    // Caught from here on, handled once the window exists.
    InstallQuitSignals(nullptr);
    try {
        TFMain window(setup);
        InstallQuitSignals(&window);
        window.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, TFMain::Title(), QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
