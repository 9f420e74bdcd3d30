// Child processes on Windows: CreateProcess with the child's standard handles in its start-up
// information (inheritable duplicates, closed again at once, beside the C runtime's block
// that gives their modes; our own descriptors are never touched), the program looked up and
// the command line joined as the runtime's spawn does it; exit codes from GetExitCodeProcess,
// where 259 means still running; TerminateProcess with exit code 127; a job object per child,
// joined before the child runs, so that its descendants can be ended with it; and a wait in
// the system's thread pool per process, whose end wakes our wait up.
#include "platform/platform_system_win32.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "platform/wake_up.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr DWORD all_access = 0x1F0FFF;  // every right a supervisor may need on the process
constexpr UINT terminated_exit_code = 127;

HANDLE native(const process_handle* h) { return static_cast<HANDLE>(h->system.handle); }

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
    get_process_id =
        reinterpret_cast<get_process_id_routine>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetProcessId")));
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

// The program lookup of the C runtime's spawn by search path: a name with a separator or a
// drive colon is taken as given, any other is looked for in the current folder, then in each
// PATH entry in order (empty ones skipped). A name without an extension in its last part is
// tried with .com, .exe, .bat and .cmd appended in turn, never bare. Folders do not count.
bool is_file(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool find_with_extension(const std::string& path, std::string* found) {
  std::size_t last_part = path.find_last_of("\\/:");
  if (path.find('.', last_part == std::string::npos ? 0 : last_part + 1) != std::string::npos) {
    if (!is_file(path)) return false;
    *found = path;
    return true;
  }
  for (const char* extension : {".com", ".exe", ".bat", ".cmd"}) {
    if (!is_file(path + extension)) continue;
    *found = path + extension;
    return true;
  }
  return false;
}

// PATH entries are cut at ';' outside double quotes, and the quotes go: an installer may
// write "C:\Program Files\tool;s" as one entry.
bool find_program(const char* name, std::string* found) {
  if (find_with_extension(name, found)) return true;
  const char* search_path = std::getenv("PATH");
  if (std::strpbrk(name, "\\/:") != nullptr || search_path == nullptr) return false;
  for (const char* p = search_path; *p != '\0';) {
    std::string folder;
    bool quoted = false;
    for (; *p != '\0' && (quoted || *p != ';'); ++p) {
      if (*p == '"')
        quoted = !quoted;
      else
        folder += *p;
    }
    if (*p == ';') ++p;
    if (folder.empty()) continue;
    if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
    if (find_with_extension(folder + name, found)) return true;
  }
  return false;
}

// The child's command line: the words joined with single blanks, as the C runtime's spawn
// joins them. The child splits it again, so quoted words survive the round trip.
std::string joined_words(char* const words[]) {
  std::string line;
  for (int i = 0; words[i] != nullptr; ++i) {
    if (i > 0) line += ' ';
    line += words[i];
  }
  return line;
}

// The environment block a new process takes: every "NAME=value" ended by a zero byte, and
// one more zero byte after the last (two when there is none).
std::string environment_block(char* const envp[]) {
  std::string block;
  for (int i = 0; envp[i] != nullptr; ++i) {
    block += envp[i];
    block += '\0';
  }
  if (block.empty()) block += '\0';
  block += '\0';
  return block;
}

// A copy of the descriptor's handle that the child can inherit. Our pipe ends stay not
// inheritable, so the child gets no other end of them.
int inheritable_copy(int fd, HANDLE* copy) {
  HANDLE original = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (original == INVALID_HANDLE_VALUE) return -EBADF;
  if (!DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return -errno_from_system_code(GetLastError());
  return 0;
}

// The C runtime in the child takes the state of its descriptors 0 to 2 from a block in its
// start-up information: their count, a flag byte each, then a handle each, packed. The
// runtime's spawn passes it, and so do we, so that a child still sees a binary pipe as binary
// (its writes then carry no carriage returns). Only the flags below are given.
constexpr unsigned char runtime_fd_open = 0x01;
constexpr unsigned char runtime_fd_pipe = 0x08;
constexpr unsigned char runtime_fd_device = 0x40;
constexpr unsigned char runtime_fd_text = 0x80;
constexpr int runtime_block_size = sizeof(int) + 3 * (1 + sizeof(HANDLE));

// The flags for a handle that the descriptor `fd` of ours stands for in the child (-1: none,
// the runtime's default mode). The runtime has no query for a descriptor's mode: setting one
// answers with the old, so it is set on a copy of the descriptor, which has the same mode.
unsigned char runtime_flags(int fd, HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return 0;
  unsigned char flags = runtime_fd_open;
  DWORD type = GetFileType(h);
  if (type == FILE_TYPE_CHAR) flags |= runtime_fd_device;
  if (type == FILE_TYPE_PIPE) flags |= runtime_fd_pipe;
  int copy = fd >= 0 && _get_osfhandle(fd) != -1 ? _dup(fd) : -1;
  if (copy < 0 || _setmode(copy, _O_BINARY) != _O_BINARY) flags |= runtime_fd_text;
  if (copy >= 0) _close(copy);
  return flags;
}

void fill_runtime_block(unsigned char* block, const HANDLE handles[3], const int fds[3]) {
  int count = 3;
  std::memcpy(block, &count, sizeof count);
  for (int i = 0; i < 3; ++i) {
    block[sizeof count + i] = runtime_flags(fds[i], handles[i]);
    HANDLE h = block[sizeof count + i] != 0 ? handles[i] : INVALID_HANDLE_VALUE;
    std::memcpy(block + sizeof count + 3 + i * sizeof(HANDLE), &h, sizeof h);
  }
}

// A job for the new child, so that ending it can take everything it started along.
void join_tree(process_handle* handle) {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return;
  if (!AssignProcessToJobObject(job, native(handle))) {
    CloseHandle(job);
    return;
  }
  handle->system.tree = job;
}

// The end of a process wakes the wait of its record, as a child signal does on POSIX, once the
// program has asked for that: the system's thread pool waits on the process handle, once, and
// calls this with the record.
VOID CALLBACK on_process_end(PVOID owner, BOOLEAN) { wake_up(static_cast<platform*>(owner)); }

void watch_end(process_handle* handle) {
  if (handle->owner == nullptr || !handle->owner->system->ends_watched) return;
  HANDLE wait = nullptr;
  if (RegisterWaitForSingleObject(&wait, native(handle), on_process_end, handle->owner, INFINITE, WT_EXECUTEONLYONCE))
    handle->system.end_watch = wait;
}

}  // namespace

// Every process started or adopted from now on has its end watched; the event its end sets
// is made here, before any thread can need it.
void watch_child_events(platform* p) { p->system->ends_watched = true; }

void become_subreaper() {}

// The job object of the run ends the child with us; there are no cgroups.
int spawn_process(platform* p, process_handle* handle, char* const argv[], child_stdio stdio, char* const envp[],
                  char* const quoted_argv[], const child_setup&) {
  *handle = process_handle{};
  // The plain first word is looked up: its quoted form may carry quotes.
  std::string program;
  if (!find_program(argv[0], &program)) return -ENOENT;
  std::string command_line = joined_words(quoted_argv != nullptr ? quoted_argv : argv);
  std::string environment = envp != nullptr ? environment_block(envp) : std::string();
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  const int given[3] = {stdio.in, stdio.out, stdio.err};
  const DWORD own[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE slots[3] = {nullptr, nullptr, nullptr};
  int modes_from[3] = {0, 1, 2};  // our descriptor whose mode the child's takes
  HANDLE copies[3] = {nullptr, nullptr, nullptr};
  int rc = 0;
  for (int i = 0; i < 3 && rc == 0; ++i) {
    if (given[i] < 0) {
      slots[i] = GetStdHandle(own[i]);
      modes_from[i] = i;
    } else {
      rc = inheritable_copy(given[i], &copies[i]);
      slots[i] = copies[i];
      modes_from[i] = given[i];
    }
  }
  unsigned char runtime_block[runtime_block_size];
  if (rc == 0) fill_runtime_block(runtime_block, slots, modes_from);
  start.hStdInput = slots[0];
  start.hStdOutput = slots[1];
  start.hStdError = slots[2];
  start.cbReserved2 = runtime_block_size;
  start.lpReserved2 = runtime_block;
  // Started suspended, so that it is in its job before it can start anything itself.
  PROCESS_INFORMATION started{};
  if (rc == 0 && !CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                 envp != nullptr ? environment.data() : nullptr, nullptr, &start, &started))
    rc = -errno_from_system_code(GetLastError());
  for (HANDLE copy : copies) {
    if (copy != nullptr) CloseHandle(copy);
  }
  if (rc < 0) return rc;
  handle->owner = p;
  handle->system.handle = started.hProcess;
  handle->own_child = true;
  handle->pid = static_cast<pid_t>(started.dwProcessId);
  join_tree(handle);
  if (ResumeThread(started.hThread) == static_cast<DWORD>(-1)) {
    rc = -errno_from_system_code(GetLastError());
    TerminateProcess(started.hProcess, terminated_exit_code);
    release_process(handle);
  }
  CloseHandle(started.hThread);
  if (rc == 0) watch_end(handle);
  return rc;
}

void reap_children(platform*) {}

process_state process_status(process_handle* handle) {
  if (handle->system.handle == nullptr) return process_state::not_known;
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
  if (handle->system.handle == nullptr) return 0;
  handle->kill_sent = true;
  return TerminateProcess(native(handle), terminated_exit_code) ? 0 : -errno_from_system_code(GetLastError());
}

// Windows processes take no signals.
int signal_process(process_handle*, int) { return -ENOSYS; }

// The job object holds every process the child started, detached ones included.
int terminate_process_tree(process_handle* handle, const stop_scope&) {
  if (handle->system.handle == nullptr) return 0;
  int rc = terminate_process(handle);
  if (handle->system.tree != nullptr)
    TerminateJobObject(static_cast<HANDLE>(handle->system.tree), terminated_exit_code);
  return rc;
}

// A console program gets the console's control events itself; there is nothing to forward.
int signal_process_tree(process_handle*, int, const stop_scope&) { return 0; }

bool process_tree_running(process_handle* handle, const stop_scope&) {
  return handle->system.handle != nullptr && process_status(handle) == process_state::running;
}

// Processes a run leaves behind are outside its job once its handles are closed.
void spare_processes_below_us(platform*, spared_processes*) {}

bool is_self_or_ancestor(pid_t pid) { return pid == own_process_id(); }

bool ancestry_readable() { return true; }

int adopt_process(platform* p, process_handle* handle, pid_t pid) {
  *handle = process_handle{};
  HANDLE process = OpenProcess(all_access, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return -errno_from_system_code(GetLastError());
  handle->owner = p;
  handle->system.handle = process;
  handle->pid = pid;
  watch_end(handle);
  return 0;
}

void release_process(process_handle* handle) {
  // Waits for a callback under way, so none runs after the handle is gone.
  if (handle->system.end_watch != nullptr)
    UnregisterWaitEx(static_cast<HANDLE>(handle->system.end_watch), INVALID_HANDLE_VALUE);
  if (handle->system.handle != nullptr) CloseHandle(native(handle));
  if (handle->system.tree != nullptr) CloseHandle(static_cast<HANDLE>(handle->system.tree));
  *handle = process_handle{};
}

pid_t own_process_id() { return id_of(GetCurrentProcess()); }

int process_id_of(const process_handle* handle) {
  if (handle->system.handle == nullptr) return -1;
  return id_of(native(handle));
}

char* const* current_environment() { return _environ; }

bool process_held(const process_handle* handle) { return handle->system.handle != nullptr; }

bool held_in_cgroup(const process_handle*) { return false; }
