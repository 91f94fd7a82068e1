#include "ExitSignal.h"
#include "Norvane.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    auto *window = new Norvane(nullptr);

    // SIGINT and SIGTERM end the program the ordinary way: the window closes, the event loop
    // returns, and destroying the window stops any sending. The window may be hidden in the
    // tray, and closing a hidden window does not end the loop by itself, hence the quit().
    ExitSignal::installHandlers();
    QObject::connect(ExitSignal::instance(), &ExitSignal::raised, window, [window] {
        window->close();
        QCoreApplication::quit();
    });

    window->show();
    const int code = app.exec();
    delete window;
    return code;
}
