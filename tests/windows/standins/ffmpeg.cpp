// Stand-in encoder: records its arguments and stores everything fed to it in fed.bin. With
// FAKE_LINGER_MS it goes on that long after its input has ended, then writes finished.txt,
// as an encoder does that still writes out its recording.
#include <windows.h>

#include "standin_common.h"

int main(int argc, char** argv) {
  record_arguments("ffmpeg.args", argc, argv);
  _setmode(_fileno(stdin), _O_BINARY);
  if (FILE* fed = std::fopen(fake_path("fed.bin").c_str(), "wb")) {
    copy_stream(stdin, fed);
    std::fclose(fed);
  }
  if (const char* linger = std::getenv("FAKE_LINGER_MS")) {
    Sleep(static_cast<DWORD>(std::atoi(linger)));
    if (FILE* f = std::fopen(fake_path("finished.txt").c_str(), "wb")) std::fclose(f);
  }
  return 0;
}
