#include "ExitSignal.h"

#include <QTimer>

#include <csignal>

extern "C" void onExitSignal(int signal)
{
    exitRequested.exchange(true);
    // The C runtime resets the handler to the default before calling it; take it again so a
    // second Ctrl+C does not kill the process before the window has closed.
    std::signal(signal, onExitSignal);
}

ExitSignal::ExitSignal()
{
    // No self-pipe on Windows: a short timer on the GUI thread looks at the flag.
    auto *timer = new QTimer(this);
    timer->setInterval(100);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        if (exitRequested) {
            timer->stop();
            notice();
        }
    });
    timer->start();
}
