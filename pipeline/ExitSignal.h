#pragma once

#include <QObject>

#include <atomic>

// Set once SIGINT or SIGTERM has arrived; nothing clears it. No frame is sent after it.
extern std::atomic<bool> exitRequested;

// Brings the interrupt and terminate signals to the GUI thread. The handler itself only sets
// exitRequested and wakes the GUI thread; there raised() is emitted, and the window closes, so
// the program stops sending and returns from main in order.
class ExitSignal : public QObject
{
    Q_OBJECT
public:
    // The process-wide notifier, living on the thread that first asks for it (the GUI thread).
    static ExitSignal *instance();

    // Creates the notifier on the calling thread and installs the handlers for SIGINT and
    // SIGTERM. Calling it again changes nothing.
    static void installHandlers();

signals:
    void raised();

private:
    ExitSignal();
    // Runs on the GUI thread once the handler has woken it.
    void notice();
};
