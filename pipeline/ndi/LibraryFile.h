#pragma once

#include "DynamicLibrary.h"

#include <string>

// Looks at a shared library's file before the loader is given it (POSIX). The loader maps the
// file's segments and faults (SIGBUS) where a segment lies past the end of a file cut short;
// and it reports a library for another processor as "No such file or directory".

// What the file is, from its ELF headers alone (nothing is mapped or run): None for a complete
// shared library of this process's processor; otherwise the failure, with why in `why`.
DynamicLibrary::Failure inspectLibraryFile(const std::string &path, std::string &why);

// The file the system loader takes for a bare name, looked up as the loader does: the folders
// of LD_LIBRARY_PATH, then its cache (/etc/ld.so.cache), then the default folders. Empty when
// none of them has it.
std::string systemLibraryFile(const std::string &bareName);
