#include "ExitSignal.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// The self-pipe: the handler writes one byte, the GUI thread's notifier reads it.
int wakeRead = -1;
int wakeWrite = -1;
} // namespace

extern "C" void onExitSignal(int)
{
    exitRequested.exchange(true);
    if (wakeWrite >= 0) {
        const int saved = errno;
        const char byte = 'x';
        // Non-blocking: a full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t n = write(wakeWrite, &byte, 1);
        errno = saved;
    }
}

ExitSignal::ExitSignal()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // No wake-up: the flag still stops the sending.
    wakeRead = fds[0];
    wakeWrite = fds[1];
    auto *notifier = new QSocketNotifier(wakeRead, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (read(wakeRead, bytes, sizeof bytes) > 0) {
        }
        notice();
    });
}
