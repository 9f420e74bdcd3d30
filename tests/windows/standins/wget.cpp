// Stand-in fetcher: records its arguments and writes stream.bin from FAKE_DIR to its output.
#include "standin_common.h"

int main(int argc, char** argv) {
  record_arguments("wget.args", argc, argv);
  _setmode(_fileno(stdout), _O_BINARY);
  if (FILE* stream = std::fopen(fake_path("stream.bin").c_str(), "rb")) {
    copy_stream(stream, stdout);
    std::fclose(stream);
  }
  return 0;
}
