#include "windowicon.h"

#include <QGuiApplication>

#include <cstdio>

// Writes the program's icon as a PNG for the desktop's menus, so the installed
// icon is the one the windows draw.
int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: varnlock_icon SIZE FILE.png\n");
        return 2;
    }
    const int size = QByteArray(argv[1]).toInt();
    if (size < 16 || size > 1024 || !VarnlockIconPixmap(size).save(QString::fromLocal8Bit(argv[2])))
        return 1;
    return 0;
}
