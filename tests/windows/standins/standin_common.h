// What the wget and ffmpeg stand-ins share: their arguments go, one per line, into
// <name>.args in the folder named by FAKE_DIR; their byte streams are copied in binary mode.
#pragma once
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string fake_path(const char* file) {
  const char* dir = std::getenv("FAKE_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/" + file;
}

inline void record_arguments(const char* name, int argc, char** argv) {
  if (FILE* f = std::fopen(fake_path(name).c_str(), "wb")) {
    for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
  }
}

inline void copy_stream(FILE* from, FILE* to) {
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0)
    if (std::fwrite(buffer, 1, n, to) != n) break;
}
