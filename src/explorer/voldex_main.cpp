// The program entry: keeps the argument text, makes the window, runs it.

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <cstdlib>

#include "explorer/tvoldex.h"
#include "opening/diskopen.h"

int main(int argc, char** argv) {
    // The argument text as one line: an argument holding a space is quoted,
    // so that the image path can be found in it again.
    std::string args;
    for (int k = 1; k < argc; ++k) {
        std::string a = argv[k];
        if (!args.empty()) args += ' ';
        args += (a.find(' ') != std::string::npos && a[0] != '/') ? "\"" + a + "\"" : a;
    }
    ArgumentText() = args;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Voldex");
    TVoldex window;
    window.show();
    // VOLDEX_SCREENSHOT=FILE.png: a picture of the screen once the image
    // is open, then the program ends (for checking the window by eye).
    if (const char* shot = std::getenv("VOLDEX_SCREENSHOT"); shot && *shot) {
        QTimer::singleShot(2000, &app, [shot, &window] {
            QScreen* screen = QGuiApplication::primaryScreen();
            QPixmap picture = screen ? screen->grabWindow(0) : window.grab();
            if (picture.isNull() || QGuiApplication::platformName() == "offscreen") picture = window.grab();
            picture.save(QString::fromLocal8Bit(shot));
            QApplication::quit();
        });
    }
    return app.exec();
}
