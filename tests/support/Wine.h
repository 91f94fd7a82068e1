#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>

// Windows programs run under Wine from a test: the quiet prefix that scripts/windows-check
// prepares, the environment a program gets there, the ports Wine listens on, and the end of
// the prefix's processes.
class WinePrefix
{
public:
    // Prepares the prefix under buildDir (scripts/windows-check --prefix); returns what went
    // wrong, or an empty string.
    QString prepare(const QString &buildDir);

    QString wine() const { return winePath; }
    QString path() const { return prefixPath; }

    // The test's own environment for a Windows program: no Linux runtime folder, no Qt platform
    // choice (both would reach the Windows program), the runtime folder given if any.
    QProcessEnvironment environment(const QString &runtimeDir = QString()) const;

    // The prefix's desktop resolution (LogPixels): 96 for 100%, 144 for 150%, 192 for 200%.
    // Programs started afterwards take it.
    bool setLogPixels(int dpi);

    // Waits until the prefix's wineserver has ended by itself (it lingers briefly after the
    // last program), then kills what is left; true when it ended in time and nothing with the
    // prefix in its environment remains.
    bool waitForEnd(int ms);
    // wineserver -k: ends every process of the prefix at once.
    void stop();

    // Z:\-path of a Linux path.
    static QString windowsPath(const QString &unixPath);
    // TCP ports that a Wine process listens on. Wine keeps its sockets in wineserver, so they
    // are found by process name rather than by the program's pid.
    static QList<int> listeningPorts();
    // A port listened on now that was not in `before`, waited for up to ms; 0 when none.
    static int newListeningPort(const QList<int> &before, int ms);

    // Processes with this prefix in their environment: the programs, wineserver, Wine's own.
    QList<long> processes() const;

private:
    QString winePath;
    QString prefixPath;
};
