// A supervised child for the Windows tests. Its words are actions, done in order:
//   record FILE   append "<count variable> <pid variable> <parent's process id>" to FILE
//   words FILE    append every later word, one per line, to FILE, and stop there
//   print TEXT    write TEXT and a line end to standard output
//   error TEXT    the same on standard error
//   sleep SEC     sleep, silent
//   exit CODE     end with that exit status
//   pidfile FILE  write our process id into FILE
//   tag TEXT      nothing; lets a test find its processes by their words
//   spawn SEC     start a grandchild that sleeps SEC seconds, with the same tag
//   flood MIB     write MIB mebibytes of text lines to standard output, as fast as it can
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* value_of(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "-";
}

// The system's basic process information (class 0 of the native query); every field after
// the first is pointer-sized, so the record is twice as wide in a 64-bit program.
struct basic_process_information {
  LONG exit_status;
  void* environment_block;
  ULONG_PTR affinity_mask;
  LONG base_priority;
  ULONG_PTR process_id;
  ULONG_PTR parent_process_id;
};

// The process that started us, from the basic process information.
unsigned long parent_process_id() {
  using query_routine = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<query_routine>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("NTDLL.DLL"), "NtQueryInformationProcess")));
  basic_process_information info{};
  if (query == nullptr || query(GetCurrentProcess(), 0, &info, sizeof info, nullptr) != 0) return 0;
  return static_cast<unsigned long>(info.parent_process_id);
}

// Opens FILE with `mode` and lets `write` fill it; nothing when it cannot be opened.
template <typename F>
void with_file(const char* path, const char* mode, F write) {
  if (FILE* f = std::fopen(path, mode)) {
    write(f);
    std::fclose(f);
  }
}

// MIB mebibytes of 64-byte text lines on standard output; false when a write fell short.
bool flood(const char* mib) {
  static char block[65536];
  for (std::size_t k = 0; k < sizeof block; ++k) block[k] = k % 64 == 63 ? '\n' : 'x';
  long blocks = std::atol(mib) * 16;
  for (long k = 0; k < blocks; ++k)
    if (_write(1, block, sizeof block) != static_cast<int>(sizeof block)) return false;
  return true;
}

void spawn_sleeper(const char* tag, const char* seconds) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string quoted_tag = std::string("\"") + tag + "\"";
  _spawnl(_P_NOWAIT, self, "test_child", "tag", quoted_tag.c_str(), "sleep", seconds, nullptr);
}

// The actions that neither end the child nor change what follows.
void do_action(const char* action, const char* arg, const char* tag) {
  if (std::strcmp(action, "record") == 0) {
    with_file(arg, "ab", [](FILE* f) {
      std::fprintf(f, "%s %s %lu\n", value_of("WATCHDOG_COUNT"), value_of("WATCHDOG_PID"), parent_process_id());
    });
  } else if (std::strcmp(action, "print") == 0) {
    std::printf("%s\n", arg);
    std::fflush(stdout);
  } else if (std::strcmp(action, "error") == 0) {
    std::fprintf(stderr, "%s\n", arg);
    std::fflush(stderr);
  } else if (std::strcmp(action, "sleep") == 0) {
    Sleep(static_cast<DWORD>(std::atoi(arg)) * 1000);
  } else if (std::strcmp(action, "pidfile") == 0) {
    with_file(arg, "wb", [](FILE* f) { std::fprintf(f, "%lu\n", GetCurrentProcessId()); });
  } else if (std::strcmp(action, "spawn") == 0) {
    spawn_sleeper(tag, arg);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* tag = "";
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* action = argv[i];
    const char* arg = argv[i + 1];
    if (std::strcmp(action, "words") == 0) {
      with_file(arg, "ab", [&](FILE* f) {
        for (int k = i + 2; k < argc; ++k) std::fprintf(f, "%s\n", argv[k]);
      });
      return 0;
    }
    if (std::strcmp(action, "exit") == 0) return std::atoi(arg);
    if (std::strcmp(action, "flood") == 0 && !flood(arg)) return 1;
    if (std::strcmp(action, "tag") == 0) tag = arg;
    do_action(action, arg, tag);
  }
  return 0;
}
