// Our standard streams as both programs set them up before anything else.
#include <cstdio>

#include "platform/pipe.h"
#include "platform/signal.h"

void prepare_standard_streams() {
  ensure_standard_descriptors();
  // Unbuffered: every message is out at once and in order with the children's output we relay.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  // A reader that goes away (ours, or a child we feed) must not end us: the write just fails.
  ignore_broken_pipes();
}
