// A full-screen window in one colour, for desktops that paint no background of their own
// (mutter, KWin): what the screen shows under the program. Says "painted" once it has drawn.
//     paint_screen RRGGBB
#include <QApplication>
#include <QPainter>
#include <QWidget>

#include <cstdio>

namespace {

class Painted : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), colour);
        if (!told) {
            told = true;
            std::printf("painted\n");
            std::fflush(stdout);
        }
    }

public:
    QColor colour;
    bool told = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Painted window;
    window.colour = QColor(QLatin1Char('#') + app.arguments().value(1));
    window.setWindowTitle(QStringLiteral("paint_screen"));
    window.setCursor(Qt::BlankCursor);
    window.showFullScreen();
    return app.exec();
}
