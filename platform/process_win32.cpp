// Child processes on Windows: _spawnvp without waiting, with the child's standard
// descriptors swapped in around the start; exit codes from GetExitCodeProcess, where 259
// means still running; TerminateProcess with exit code 127; and a job object per child so
// that its descendants can be ended with it.
#include "platform/process.h"
#include "platform/system_error.h"

#include <windows.h>
#include <io.h>
#include <process.h>

#include <cerrno>
#include <cstdlib>

namespace {

constexpr DWORD all_access = 0x1F0FFF;  // every right a supervisor may need on the process
constexpr UINT terminated_exit_code = 127;

HANDLE native(const process_handle* h) { return static_cast<HANDLE>(h->system_handle); }

// The record the native query fills for its class 0 (basic information). Every field after
// the first is pointer-sized, so its layout differs between 32-bit and 64-bit programs.
struct basic_process_information {
  LONG exit_status;
  void* environment_block;
  ULONG_PTR affinity_mask;
  LONG base_priority;
  ULONG_PTR process_id;
  ULONG_PTR parent_process_id;
};

// The system routines behind the process-id lookup, found once at run time: GetProcessId
// where the system has it, else the native information query.
using get_process_id_routine = DWORD(WINAPI*)(HANDLE);
using query_process_routine = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
bool lookup_pending = true;
get_process_id_routine get_process_id = nullptr;
query_process_routine query_process = nullptr;

void find_lookup_routines() {
  if (!lookup_pending) return;
  lookup_pending = false;
  if (HMODULE kernel = GetModuleHandleA("KERNEL32.DLL"))
    get_process_id = reinterpret_cast<get_process_id_routine>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetProcessId")));
  if (get_process_id != nullptr) return;
  if (HMODULE ntdll = GetModuleHandleA("NTDLL.DLL"))
    query_process = reinterpret_cast<query_process_routine>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "ZwQueryInformationProcess")));
}

int id_of(HANDLE process) {
  find_lookup_routines();
  if (get_process_id != nullptr) {
    DWORD id = get_process_id(process);
    if (id != 0) return static_cast<int>(id);
  }
  if (query_process != nullptr) {
    basic_process_information info{};
    info.process_id = static_cast<ULONG_PTR>(-2);
    query_process(process, 0, &info, sizeof info, nullptr);
    if (info.process_id != 0) return static_cast<int>(info.process_id);
  }
  return -1;
}

// A job for the new child, so that ending it can take everything it started along.
void join_tree(process_handle* handle) {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return;
  if (!AssignProcessToJobObject(job, native(handle))) {
    CloseHandle(job);
    return;
  }
  handle->tree = job;
}

}  // namespace

void watch_child_events() {}


void become_subreaper() {}

// The job object of the run ends the child with us; there are no cgroups.
int spawn_process(process_handle* handle, char* const argv[], child_stdio stdio, char* const envp[],
                  char* const quoted_argv[], const child_setup&) {
  *handle = process_handle{};
  // The runtime joins the words with single blanks into the child's command line, which the
  // child splits again: the quoted words survive that round trip.
  char* const* words = quoted_argv != nullptr ? quoted_argv : argv;
  // The child inherits our descriptors 0 to 2: the ones it must get instead are put there
  // for the moment of the start, and ours are put back after it.
  const int wanted[3] = {stdio.in, stdio.out, stdio.err};
  int saved[3] = {-1, -1, -1};
  for (int fd = 0; fd < 3; ++fd) {
    if (wanted[fd] < 0) continue;
    saved[fd] = _dup(fd);  // -1 when we have no such descriptor: it is closed again after
    // Our saved copy must not reach the child.
    if (saved[fd] >= 0) SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(saved[fd])), HANDLE_FLAG_INHERIT, 0);
    _dup2(wanted[fd], fd);
  }
  intptr_t started = envp != nullptr ? _spawnvpe(_P_NOWAIT, words[0], words, envp)
                                     : _spawnvp(_P_NOWAIT, words[0], words);
  int err = errno;
  for (int fd = 0; fd < 3; ++fd) {
    if (wanted[fd] < 0) continue;
    if (saved[fd] < 0) {
      _close(fd);  // we must not keep the child's pipe end in its place
      continue;
    }
    _dup2(saved[fd], fd);
    _close(saved[fd]);
  }
  if (started == 0 || started == -1) return -(err != 0 ? err : ENOENT);
  handle->system_handle = reinterpret_cast<void*>(started);
  handle->own_child = true;
  handle->pid = id_of(native(handle));
  join_tree(handle);
  return 0;
}

void reap_children() {}

process_state process_status(process_handle* handle) {
  if (handle->system_handle == nullptr) return process_state::not_known;
  DWORD code = 0;
  if (!GetExitCodeProcess(native(handle), &code)) return process_state::not_known;
  if (code == STILL_ACTIVE) return process_state::running;
  // The handle keeps the answer, so every later query sees the same exit code; an adopted
  // process's exit code can be read as well as our own child's.
  handle->reaped = true;
  handle->exit_code = static_cast<int>(code);
  handle->exit_code_known = true;
  return process_state::ended;
}

int terminate_process(process_handle* handle) {
  if (handle->system_handle == nullptr) return 0;
  handle->kill_sent = true;
  return TerminateProcess(native(handle), terminated_exit_code) ? 0 : -errno_from_system_code(GetLastError());
}

// The job object holds every process the child started, detached ones included.
int terminate_process_tree(process_handle* handle, const stop_scope&) {
  if (handle->system_handle == nullptr) return 0;
  int rc = terminate_process(handle);
  if (handle->tree != nullptr) TerminateJobObject(static_cast<HANDLE>(handle->tree), terminated_exit_code);
  return rc;
}

// A console program gets the console's control events itself; there is nothing to forward.
int signal_process_tree(process_handle*, int, const stop_scope&) { return 0; }

bool process_tree_running(process_handle* handle, const stop_scope&) {
  return handle->system_handle != nullptr && process_status(handle) == process_state::running;
}

// Processes a run leaves behind are outside its job once its handles are closed.
void spare_processes_below_us(spared_processes*) {}

bool is_self_or_ancestor(pid_t pid) { return pid == own_process_id(); }

bool ancestry_readable() { return true; }

int adopt_process(process_handle* handle, pid_t pid) {
  *handle = process_handle{};
  HANDLE process = OpenProcess(all_access, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return -errno_from_system_code(GetLastError());
  handle->system_handle = process;
  handle->pid = pid;
  return 0;
}

void release_process(process_handle* handle) {
  if (handle->system_handle != nullptr) CloseHandle(native(handle));
  if (handle->tree != nullptr) CloseHandle(static_cast<HANDLE>(handle->tree));
  *handle = process_handle{};
}

pid_t own_process_id() { return id_of(GetCurrentProcess()); }

int process_id_of(const process_handle* handle) {
  if (handle->system_handle == nullptr) return -1;
  return id_of(native(handle));
}

char* const* current_environment() { return _environ; }
