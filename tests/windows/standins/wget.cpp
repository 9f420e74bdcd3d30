// Stand-in fetcher: records its arguments and writes stream.bin from FAKE_DIR to its output.
// With FAKE_SILENT_MS it first stays silent that long, as a camera that sends nothing.
#include <windows.h>

#include "standin_common.h"

int main(int argc, char** argv) {
  record_arguments("wget.args", argc, argv);
  if (const char* silent = std::getenv("FAKE_SILENT_MS")) Sleep(static_cast<DWORD>(std::atoi(silent)));
  _setmode(_fileno(stdout), _O_BINARY);
  if (FILE* stream = std::fopen(fake_path("stream.bin").c_str(), "rb")) {
    copy_stream(stream, stdout);
    std::fclose(stream);
  }
  return 0;
}
