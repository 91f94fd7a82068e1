#include "ToolkitEnvironment.h"

#include <QCoreApplication>
#include <QGuiApplication>

void prepareToolkitEnvironment()
{
    // Without this, Qt 5 lets the fonts follow the desktop's resolution while every widget
    // keeps its size in device pixels, and texts overflow their widgets. With it, Qt scales
    // the whole window by the desktop's resolution over 96 dots per inch; at 96 it changes
    // nothing. Qt's own variables (QT_ENABLE_HIGHDPI_SCALING=0, a rounding policy) still win.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    // Icons drawn at the screen's resolution rather than enlarged from their 100% size.
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    preparePlatformEnvironment();
}
