#pragma once

#include <QProcess>
#include <QSystemTrayIcon>
#include <QtTest>

// A real XEmbed notification area (Debian's trayer) on the test's X server, started and
// stopped by the test itself.
class TrayHost
{
public:
    bool start()
    {
        process.setProgram(QStringLiteral("trayer"));
        process.setArguments({"--edge", "top", "--align", "right", "--widthtype", "request",
                              "--height", "24", "--SetDockType", "true", "--transparent", "false"});
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        // Available once trayer owns the tray selection of the screen; generous for a loaded
        // machine.
        return process.waitForStarted(30000) &&
               QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 30000);
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    ~TrayHost() { stop(); }

private:
    QProcess process;
};
