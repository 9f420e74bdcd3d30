// How runs hold their processes on Windows: each child's job object (process_win32.cpp), which
// holds everything the child starts. There are no cgroups to choose or to clean up.
#include "platform/run_cgroup.h"

const char* choose_run_cgroups(platform*, bool) { return "runs held by job objects"; }

void end_run_cgroups(platform*) {}

// Not covered on Windows: a job object that ended its processes when our handle closes would
// end what a run that ended by itself left running too.
void start_run_keeper(platform*) {}
