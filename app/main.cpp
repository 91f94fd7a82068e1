#include "ExitSignal.h"
#include "Norvane.h"
#include "ToolkitEnvironment.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    prepareToolkitEnvironment();
    QApplication app(argc, argv);
    // The app id on Wayland, and the menu entry it belongs to (app/norvane.desktop).
    QGuiApplication::setDesktopFileName(QStringLiteral("norvane"));
    auto *window = new Norvane(nullptr);

    // SIGINT and SIGTERM end the program the ordinary way, shown or hidden: the window closes,
    // the event loop returns, and destroying the window stops any sending.
    ExitSignal::installHandlers();
    QObject::connect(ExitSignal::instance(), &ExitSignal::raised, window, &QWidget::close);
    // Closing the window ends the program on every desktop: under KDE's platform theme Qt's own
    // quit when the last window closes does not end the event loop.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);

    window->show();
    const int code = app.exec();
    delete window;
    return code;
}
