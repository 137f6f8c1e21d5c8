// movenna-player: the internal player. Its one argument is the file to play.
#include "PlayerWindow.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Movenna Player");
    QApplication::setDesktopFileName("movenna");

    const QStringList args = QApplication::arguments();
    PlayerWindow window;
    if (args.size() < 2) {
        std::fputs("usage: movenna-player FILE\n", stderr);
        window.Open(QString());
    } else {
        window.Open(args.at(1));
    }
    window.show();
    return QApplication::exec();
}
