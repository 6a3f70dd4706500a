// The program entry: reads the arguments, makes the window, runs it.

#include <QApplication>
#include <QMenuBar>
#include <QProxyStyle>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QTreeView>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

#include "device/messages.h"
#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/language_qt.h"
#include "explorer/startargs.h"
#include "explorer/window/tvoldex.h"

namespace {

// SIGTERM and SIGINT end the program the orderly way, so that the window's
// temporary folder goes with it: the handler only writes a byte, the event
// loop reads it and quits. A second signal ends the program at once.
int signalPipe[2] = {-1, -1};

void OnSignal(int sig) {
    char c = char(sig);
    ssize_t ignored = write(signalPipe[1], &c, 1);
    (void)ignored;
    std::signal(sig, SIG_DFL);
}

void QuitOnSignals(QApplication& app) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c;
        ssize_t ignored = read(signalPipe[0], &c, 1);
        (void)ignored;
        // Closing saves the layout and answers open dialogs with Cancel.
        QApplication::closeAllWindows();
        QApplication::quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// Alt alone takes the keyboard into the menu bar, whatever the style.
class MenuKeysStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

int main(int argc, char** argv) {
    // --help and --version need no display. Other mistakes are reported
    // once Qt has taken its own options (-platform, -style ...) away.
    StartArguments early = ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (early.help) {
        std::fputs(StartUsage(), stdout);
        return 0;
    }
    if (early.version) {
        std::string about = ResourceString().LoadMessageV(1, {});
        std::printf("%s\n", about.substr(0, about.find('\n')).c_str());
        return 0;
    }
    QApplication app(argc, argv);  // takes Qt's own options (-style, -platform ...) out of argv
    StartArguments args = ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!args.error.empty()) {
        // Told in the language the run would have spoken.
        InstallLanguage(app, args.language);
        args = ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc));
        std::fprintf(stderr, "voldex: %s\n%s", args.error.c_str(), StartUsage());
        return 2;
    }
    PendingOpeningOptions() = args.options;

    QApplication::setApplicationName("Voldex");
    InstallLanguage(app, args.language);
    QApplication::setStyle(new MenuKeysStyle);
    QApplication::setWindowIcon(ProgramIcon());
    QuitOnSignals(app);
    TVoldex window;
    if (!args.paths.empty()) {
        std::error_code ec;
        std::filesystem::path p = std::filesystem::absolute(args.paths.front(), ec);
        window.SetStartPath(ec ? args.paths.front() : p.lexically_normal().string());
    }
    window.show();
    // VOLDEX_SCREENSHOT=FILE.png: a picture of the screen once the image
    // is open, then the program ends (for checking the window by eye). The
    // window's title and the names listed go to standard output with it.
    if (const char* shot = std::getenv("VOLDEX_SCREENSHOT"); shot && *shot) {
        QTimer::singleShot(2000, &app, [shot, &window] {
            QScreen* screen = QGuiApplication::primaryScreen();
            QPixmap picture = screen ? screen->grabWindow(0) : window.grab();
            if (picture.isNull() || QGuiApplication::platformName() == "offscreen") picture = window.grab();
            picture.save(QString::fromLocal8Bit(shot));
            std::printf("title: %s\n", window.windowTitle().toUtf8().constData());
            QWidget* modal = QApplication::activeModalWidget();
            std::printf("modal: %s\n", modal ? modal->windowTitle().toUtf8().constData() : "none");
            if (!window.menuBar()->actions().isEmpty())
                std::printf("menu: %s\n", window.menuBar()->actions().front()->text().toUtf8().constData());
            QAbstractItemModel* model = window.DetailsView()->model();
            for (int r = 0; r < model->rowCount(); ++r)
                std::printf("row: %s\n", model->index(r, 0).data().toString().toUtf8().constData());
            std::fflush(stdout);
            QApplication::quit();
        });
    }
    return app.exec();
}
