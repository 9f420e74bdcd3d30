// The one list of what the supervisor waits on, and the wait of a monitoring pass.
#include "watchdog/wait_list.h"

#include <algorithm>

#include "common/monotonic_clock.h"

namespace {

void add(wait_list* list, int fd, unsigned want) { list->items[list->count++] = wait_item{fd, want, 0}; }

}  // namespace

wait_list list_waits(const our_outputs* outputs, int out_fd, int err_fd, unsigned streams, std::int64_t give_up_ms) {
  wait_list list;
  list.out_fd = out_fd;
  list.err_fd = err_fd;
  if (out_fd >= 0 && !queue_full(&outputs->out)) add(&list, out_fd, wait_read);
  if (err_fd >= 0 && !queue_full(&outputs->err)) add(&list, err_fd, wait_read);
  const struct {
    unsigned which;
    const output_queue* queue;
  } ours[] = {{out_stream, &outputs->out}, {err_stream, &outputs->err}};
  for (const auto& o : ours) {
    if (!(streams & o.which) || queue_pending(o.queue) == 0 || o.queue->failed) continue;
    std::int64_t stalled = queue_stalled_ms(o.queue);
    if (stalled >= give_up_ms) continue;
    add(&list, o.queue->writer.fd, wait_write);
    list.until_give_up = std::min(list.until_give_up, give_up_ms - stalled);
  }
  return list;
}

unsigned wait_for_data(wait_list* list, long ms) {
  std::int64_t deadline = monotonic_now() + ms;
  for (;;) {
    if (wait_for_events(list->items, list->count, ms) == 0) return 0;  // time out, or a wake-up
    unsigned data = 0;
    bool finished_pipe = false;
    for (int i = 0; i < list->count; ++i) {
      const wait_item& item = list->items[i];
      if (item.want != wait_read) {
        if (item.got != 0) return 0;  // our stream has room, or its reader has gone
      } else if (item.got & wait_read) {
        data |= item.fd == list->out_fd ? out_stream : err_stream;
      } else if (item.got & wait_hangup) {
        finished_pipe = true;
      }
    }
    if (data != 0 || !finished_pipe) return data;
    int kept = 0;
    for (int i = 0; i < list->count; ++i)
      if (!(list->items[i].want == wait_read && (list->items[i].got & wait_hangup))) list->items[kept++] = list->items[i];
    list->count = kept;
    ms = static_cast<long>(deadline - monotonic_now());
    if (ms <= 0) return 0;
  }
}
