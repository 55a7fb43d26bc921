// Symbol visibility for the kit's shared libraries. Everything is hidden by
// default (-fvisibility=hidden); only names marked with a library's API macro
// are exported.
#pragma once

#if defined(_WIN32)
#define JOR_EXPORT_SYMBOL __declspec(dllexport)
#define JOR_IMPORT_SYMBOL __declspec(dllimport)
#else
#define JOR_EXPORT_SYMBOL __attribute__((visibility("default")))
#define JOR_IMPORT_SYMBOL __attribute__((visibility("default")))
#endif
