#include "ExitSignal.h"

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
