#pragma once

// Small pieces the benchmarks share: a process's CPU time and memory from /proc, and a line
// from a helper process.
#include <QFile>
#include <QProcess>
#include <QString>

#include <unistd.h>

#include <cstring>

// utime + stime of a process (all its threads), in ms, from /proc/<pid>/stat; 0 when it is gone.
inline double cpuMsOf(long pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // Fields after the command name (which may hold spaces) start at state, field 3.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// A field of /proc/<pid>/status in kB (e.g. "VmRSS:"), pid 0 for this process; -1 if absent.
inline long statusKb(long pid, const char *field)
{
    QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The next line a helper process writes, waited for up to timeoutMs; empty if none came.
inline QByteArray readLine(QProcess &p, int timeoutMs)
{
    while (!p.canReadLine()) {
        if (!p.waitForReadyRead(timeoutMs))
            return QByteArray();
    }
    return p.readLine();
}
