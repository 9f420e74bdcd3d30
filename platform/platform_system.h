// Inside the platform layer: the record's system part, which each system's file makes and
// gives back (platform_linux.cpp, platform_win32.cpp), and the record the signal handlers and
// the console's event thread reach.
#pragma once
#include "platform/platform.h"

// A new system part, its wake-up made before any handler can need it.
platform_system* make_platform_system();

// Closes what the part holds and frees it.
void free_platform_system(platform_system* part);

// The one pointer of the layer, set when the program installs its handlers (or watches child
// events); null otherwise.
extern platform* handler_platform;
