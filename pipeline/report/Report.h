#pragma once

#include <string>

// The one way the program writes to standard error: every line starts with "norvane: ", and
// each thing is said once for the life of the process, whichever thread says it and however
// often it comes up (a failure met at every start of sending is worth one line). Qt-free, so
// that the Windows backends and the runtime loader use it in their bare builds too.
namespace Report {

// Writes "norvane: <line>" unless something was already said under key; true when written.
bool once(const std::string &key, const std::string &line);

} // namespace Report
