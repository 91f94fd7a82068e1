#include "XTools.h"

#include <QProcess>

QString runTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return QString();
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

XPlacement placement(const QString &window)
{
    XPlacement p;
    int x = 0, y = 0, w = 0, h = 0;
    const QString info = runTool(QStringLiteral("xwininfo"), {"-id", window}, 5000);
    for (const QString &line : info.split('\n')) {
        const QString l = line.trimmed();
        const QString value = l.section(':', 1).trimmed();
        if (l.startsWith("Absolute upper-left X"))
            x = value.toInt();
        else if (l.startsWith("Absolute upper-left Y"))
            y = value.toInt();
        else if (l.startsWith("Width"))
            w = value.toInt();
        else if (l.startsWith("Height"))
            h = value.toInt();
        else if (l.startsWith("Map State"))
            p.viewable = value == "IsViewable";
    }
    p.rect = QRect(x, y, w, h);
    return p;
}
