#pragma once

#include <QObject>

#include <memory>

// Whether receivers on the network find this machine's senders by themselves, watched for as
// long as sending goes on. On Linux the NDI runtime announces them by mDNS through
// avahi-daemon, which it reaches over the system bus: without the daemon nobody finds them,
// though receivers given the machine's address still connect; a daemon started later (or
// again) announces them from then on. On Windows the runtime announces by itself.
class AnnouncementWatch : public QObject
{
    Q_OBJECT
public:
    explicit AnnouncementWatch(QObject *parent = nullptr);
    ~AnnouncementWatch() override;

    // Starts watching (anew); whether the senders are announced now.
    bool start();
    // No more news until the next start().
    void stop();

signals:
    // The answer changed while watching.
    void announcedChanged(bool announced);

private:
    struct Watch;
    std::unique_ptr<Watch> watch;
};
