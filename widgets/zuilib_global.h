#pragma once

// The program's executable exports the widget library's interface, so that code loaded into
// the process can use the same button class.
#if defined(_WIN32)
#define ZUILIB_EXPORT __declspec(dllexport)
#else
#define ZUILIB_EXPORT __attribute__((visibility("default")))
#endif
