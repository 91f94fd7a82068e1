#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

// Small helpers for tests that look at the X server from outside a program: the command-line
// tools a person's session would have (xdotool, xwininfo).

// Runs a command and returns its standard output, trimmed; empty on failure or time-out.
QString runTool(const QString &program, const QStringList &arguments, int timeoutMs = 15000);

// An X window as the server places it.
struct XPlacement
{
    bool viewable = false;
    QRect rect;
};
// Where the window with this id (as xdotool and xwininfo print it) is, and whether it shows.
XPlacement placement(const QString &window);
