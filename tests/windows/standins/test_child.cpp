// A supervised child for the Windows tests. Its words are actions, done in order:
//   record FILE   append "<count variable> <pid variable>" to FILE
//   words FILE    append every later word, one per line, to FILE, and stop there
//   print TEXT    write TEXT and a line end to standard output
//   error TEXT    the same on standard error
//   sleep SEC     sleep, silent
//   exit CODE     end with that exit status
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* value_of(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "-";
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* action = argv[i];
    const char* arg = argv[i + 1];
    if (std::strcmp(action, "record") == 0) {
      if (FILE* f = std::fopen(arg, "ab")) {
        std::fprintf(f, "%s %s\n", value_of("WATCHDOG_COUNT"), value_of("WATCHDOG_PID"));
        std::fclose(f);
      }
    } else if (std::strcmp(action, "words") == 0) {
      if (FILE* f = std::fopen(arg, "ab")) {
        for (int k = i + 2; k < argc; ++k) std::fprintf(f, "%s\n", argv[k]);
        std::fclose(f);
      }
      return 0;
    } else if (std::strcmp(action, "print") == 0) {
      std::printf("%s\n", arg);
      std::fflush(stdout);
    } else if (std::strcmp(action, "error") == 0) {
      std::fprintf(stderr, "%s\n", arg);
      std::fflush(stderr);
    } else if (std::strcmp(action, "sleep") == 0) {
      Sleep(static_cast<DWORD>(std::atoi(arg)) * 1000);
    } else if (std::strcmp(action, "exit") == 0) {
      return std::atoi(arg);
    }
  }
  return 0;
}
