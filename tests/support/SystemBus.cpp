#include "SystemBus.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QtTest>

namespace {
const QString ownerConnection = QStringLiteral("norvane-test-owner");

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}
} // namespace

SystemBus::SystemBus(const QString &dir) : folder(dir)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + "/services");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(folder) + "/socket");
}

SystemBus::~SystemBus()
{
    QDBusConnection::disconnectFromBus(ownerConnection);
    daemon.terminate();
    daemon.waitForFinished(5000);
}

bool SystemBus::addService(const QString &name, const QString &exec)
{
    return writeFile(folder + "/services/" + name + ".service",
                     ("[D-BUS Service]\nName=" + name + "\nExec=" + exec + "\n").toUtf8());
}

bool SystemBus::start()
{
    const QString config = folder + "/bus.conf";
    const QString text = QStringLiteral("<busconfig><type>system</type>"
                                        "<listen>unix:path=%1/socket</listen>"
                                        "<servicedir>%1/services</servicedir>"
                                        "<policy context=\"default\"><allow user=\"*\"/>"
                                        "<allow own=\"*\"/><allow send_destination=\"*\"/>"
                                        "<allow receive_sender=\"*\"/></policy></busconfig>\n")
                             .arg(folder);
    if (!writeFile(config, text.toUtf8()))
        return false;
    daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon.start("dbus-daemon", {"--nofork", "--config-file=" + config});
    return QTest::qWaitFor([&] { return QFile::exists(folder + "/socket"); }, 30000);
}

bool SystemBus::own(const QString &name)
{
    return QDBusConnection::connectToBus("unix:path=" + folder + "/socket", ownerConnection)
        .registerService(name);
}

bool SystemBus::release(const QString &name)
{
    return QDBusConnection(ownerConnection).unregisterService(name);
}
