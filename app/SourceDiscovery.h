#pragma once

// Whether receivers on the network find this machine's senders by themselves. On Linux the NDI
// runtime announces them by mDNS through avahi-daemon, which it reaches over the system bus:
// without the daemon nobody finds them, though receivers given the machine's address still
// connect. On Windows the runtime announces by itself.
bool sendersAreAnnounced();
