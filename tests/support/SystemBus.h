#pragma once

#include <QProcess>
#include <QString>

// A bus of the test's own that this process and its children take for the system bus
// (DBUS_SYSTEM_BUS_ADDRESS). The bus library reads that address once per process, so make the
// bus before anything in the process connects to a system bus. Nothing is started on demand
// except the services added.
class SystemBus
{
public:
    // Points the process at a bus in dir (made afresh); the bus is not started yet.
    explicit SystemBus(const QString &dir);
    ~SystemBus();
    SystemBus(const SystemBus &) = delete;
    SystemBus &operator=(const SystemBus &) = delete;

    // A service the bus would start on demand, by running exec. Before start().
    bool addService(const QString &name, const QString &exec);
    bool start();
    // Takes or gives up a name, on a connection of the test's own.
    bool own(const QString &name);
    bool release(const QString &name);

private:
    QString folder;
    QProcess daemon;
};
