#include "SourceDiscovery.h"

// The Windows runtime announces its senders itself; there is nothing to watch.
struct AnnouncementWatch::Watch
{
};

AnnouncementWatch::AnnouncementWatch(QObject *parent) : QObject(parent) {}

AnnouncementWatch::~AnnouncementWatch() = default;

bool AnnouncementWatch::start()
{
    return true;
}

void AnnouncementWatch::stop() {}
