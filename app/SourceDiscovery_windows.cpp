#include "SourceDiscovery.h"

// The Windows runtime announces its senders itself; there is nothing to look for.
bool sendersAreAnnounced()
{
    return true;
}
