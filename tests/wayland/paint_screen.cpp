// A full-screen window in one colour, for desktops that paint no background of their own
// (mutter, KWin): what the screen shows under the program.
//     paint_screen RRGGBB
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("paint_screen"));
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(QLatin1Char('#') + app.arguments().value(1)));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.setCursor(Qt::BlankCursor);
    window.showFullScreen();
    return app.exec();
}
