// Inside the platform layer: starting a child on POSIX by fork and exec, so that it can be set
// up (standard descriptors, signals, a parent-death signal, a cgroup) before it runs any code
// of its own.
#pragma once
#include <sys/types.h>

#include "platform/process.h"

// Starts argv[0], found along our PATH like execvp, with `envp` as its environment. A failure
// to set the child up or to run the program is known here: -errno, and the child is gone;
// The child moves itself into the cgroup folder `cgroup_fd` (-1: none) before it runs its
// program; *cgroup_refused (when given) tells whether it was that move that failed.
// On success *pid is the child's.
int start_child(char* const argv[], char* const envp[], const child_stdio& stdio, const child_setup& setup,
                int cgroup_fd, pid_t* pid, bool* cgroup_refused = nullptr);
