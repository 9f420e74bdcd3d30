// Stand-in encoder: records its arguments and stores everything fed to it in fed.bin.
#include "standin_common.h"

int main(int argc, char** argv) {
  record_arguments("ffmpeg.args", argc, argv);
  _setmode(_fileno(stdin), _O_BINARY);
  if (FILE* fed = std::fopen(fake_path("fed.bin").c_str(), "wb")) {
    copy_stream(stdin, fed);
    std::fclose(fed);
  }
  return 0;
}
