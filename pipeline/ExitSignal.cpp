#include "ExitSignal.h"

#include <csignal>
#include <mutex>

// The handler, per platform: sets exitRequested and wakes the GUI thread as that platform can.
extern "C" void onExitSignal(int signal);

std::atomic<bool> exitRequested{false};

ExitSignal *ExitSignal::instance()
{
    // Never deleted: a signal may arrive until the very end of the process.
    static ExitSignal *const notifier = new ExitSignal;
    return notifier;
}

void ExitSignal::notice()
{
    if (exitRequested)
        emit raised();
}

void ExitSignal::installHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        instance();
        std::signal(SIGINT, onExitSignal);
        std::signal(SIGTERM, onExitSignal);
    });
}
