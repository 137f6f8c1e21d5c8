// movenna: the converter's window. Every argument is a file or folder to add.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <exception>

#include "app/Main.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so they work without a display too. A file
    // of that name is still added as ./--help.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: movenna [FILE|FOLDER]...\n\n"
                    "Opens Movenna's window and adds the video and audio files named\n"
                    "(folders are searched at every depth), then offers to convert them.\n"
                    "From a terminal without the window: movenna-batch --help.\n");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("movenna %s\n", MOVENNA_VERSION);
        return 0;
    }
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
