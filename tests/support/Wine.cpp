#include "Wine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>

QString WinePrefix::prepare(const QString &buildDir)
{
    QProcess script;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NORVANE_WINDOWS_BUILD"), buildDir);
    script.setProcessEnvironment(env);
    script.start(qEnvironmentVariable("NORVANE_SOURCE_DIR") +
                     QStringLiteral("/scripts/windows-check"),
                 {QStringLiteral("--prefix")});
    if (!script.waitForFinished(120000) || script.exitCode() != 0)
        return QStringLiteral("scripts/windows-check --prefix failed: ") +
               QString::fromLocal8Bit(script.readAllStandardError());
    for (const QString &line : QString::fromLocal8Bit(script.readAllStandardOutput()).split('\n')) {
        if (line.startsWith(QLatin1String("prefix=")))
            prefixPath = line.mid(7);
        else if (line.startsWith(QLatin1String("wine=")))
            winePath = line.mid(5);
    }
    return prefixPath.isEmpty() || winePath.isEmpty() ? QStringLiteral("no prefix or wine")
                                                      : QString();
}

QProcessEnvironment WinePrefix::environment(const QString &runtimeDir) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefixPath);
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree=;mshtml="));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("NDI_RUNTIME_DIR_V6"));
    env.remove(QStringLiteral("NDI_RUNTIME_DIR_V5"));
    if (!runtimeDir.isEmpty())
        env.insert(QStringLiteral("NDI_RUNTIME_DIR_V6"), windowsPath(runtimeDir));
    return env;
}

bool WinePrefix::setLogPixels(int dpi)
{
    QProcess reg;
    reg.setProcessEnvironment(environment());
    reg.start(winePath, {"reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                         "REG_DWORD", "/d", QString::number(dpi), "/f"});
    return reg.waitForFinished(30000) && reg.exitStatus() == QProcess::NormalExit &&
           reg.exitCode() == 0;
}

QList<long> WinePrefix::processes() const
{
    QList<long> found;
    const QByteArray mark = "WINEPREFIX=" + QFile::encodeName(prefixPath) + '\0';
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const long pid = entry.toLong(&number);
        QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
        if (number && environ.open(QIODevice::ReadOnly) &&
            ('\0' + environ.readAll()).contains('\0' + mark))
            found << pid;
    }
    return found;
}

bool WinePrefix::waitForEnd(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (!processes().isEmpty() && waited.elapsed() < ms)
        QThread::msleep(200);
    const bool ended = processes().isEmpty();
    if (!ended)
        stop();
    return ended;
}

void WinePrefix::stop()
{
    QProcess stop;
    stop.setProcessEnvironment(environment());
    stop.start(QStringLiteral("wineserver"), {QStringLiteral("-k")});
    stop.waitForFinished(10000);
    QProcess wait;
    wait.setProcessEnvironment(environment());
    wait.start(QStringLiteral("wineserver"), {QStringLiteral("-w")});
    wait.waitForFinished(10000);
}

QString WinePrefix::windowsPath(const QString &unixPath)
{
    return QStringLiteral("Z:") + QString(unixPath).replace('/', '\\');
}

QList<int> WinePrefix::listeningPorts()
{
    QProcess ss;
    ss.start(QStringLiteral("ss"), {QStringLiteral("-ltnpH")});
    ss.waitForFinished(5000);
    QList<int> ports;
    const QRegularExpression line(QStringLiteral(R"(:(\d+)\s+\S+:\S+\s+users:.*wine)"));
    for (const QString &text : QString::fromLocal8Bit(ss.readAllStandardOutput()).split('\n')) {
        const auto m = line.match(text);
        if (m.hasMatch())
            ports << m.captured(1).toInt();
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

int WinePrefix::newListeningPort(const QList<int> &before, int ms)
{
    // A sender listens on 5961 or the next free port.
    QElapsedTimer waited;
    waited.start();
    do {
        for (int p : listeningPorts())
            if (p >= 5961 && !before.contains(p))
                return p;
        QThread::msleep(100);
    } while (waited.elapsed() < ms);
    return 0;
}
