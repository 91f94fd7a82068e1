#include "Report.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace Report {

bool once(const std::string &key, const std::string &line)
{
    // Never destroyed: the runtime's and PipeWire's threads may still say something while the
    // process exits.
    static std::mutex *const mutex = new std::mutex;
    static std::set<std::string> *const said = new std::set<std::string>;
    std::lock_guard<std::mutex> lock(*mutex);
    if (!said->insert(key).second)
        return false;
    std::fprintf(stderr, "norvane: %s\n", line.c_str());
    // Unbuffered on most systems already; a program started from a menu may have it buffered.
    std::fflush(stderr);
    return true;
}

} // namespace Report
