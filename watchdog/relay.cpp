// The relay: the pipes it reads, its one wait, the reads that feed our backlogs, and the ends.
#include "watchdog/relay.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/pipe.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "platform/wait.h"
#include "watchdog/messages.h"

namespace {

constexpr unsigned flowing_passes = 8;       // passes without a wait while a stream flows
constexpr std::size_t flush_batch = 16384;   // held bytes written in one go while a stream flows
constexpr std::size_t message_room = 65536;  // kept free for our own lines while a run's last output fills a backlog
constexpr int max_waits = max_relayed_pipes + 2;

using pipe_set = std::uint64_t;  // relayed pipes by their index
static_assert(max_relayed_pipes <= 64 && max_waits <= 64, "a pipe_set holds one bit per relayed pipe, a wait 64 items");

output_queue* queue_of(relay_unit* r, const relayed_pipe& p) {
  return p.stream == out_stream ? &r->outputs->out : &r->outputs->err;
}
const output_queue* queue_of(const relay_unit* r, const relayed_pipe& p) {
  return p.stream == out_stream ? &r->outputs->out : &r->outputs->err;
}

bool has_room(const relay_unit* r, const relayed_pipe& p) { return !queue_full(queue_of(r, p)); }

// What one wait listens to: pipes (by index) for data, our streams for room.
struct wait_plan {
  wait_item items[max_waits];
  int pipe_of[max_waits];     // the relayed pipe of each item, -1 for one of our streams
  bool ends_pipe[max_waits];  // its writers' end is news: a spared pipe, closed at its end
  int count = 0;
  std::int64_t until_give_up = INT64_MAX;  // ms until the first listed stream of ours is given up
};

void add_item(wait_plan* plan, int fd, unsigned want, int pipe, bool ends_pipe = false) {
  plan->items[plan->count] = wait_item{fd, want, 0};
  plan->ends_pipe[plan->count] = ends_pipe;
  plan->pipe_of[plan->count++] = pipe;
}

// The pipes of `wanted` whose stream has room, and the streams of `streams` that hold bytes
// their reader may still take: not once it has gone, nor once it has taken nothing for
// `give_up_ms`.
wait_plan plan_wait(const relay_unit* r, pipe_set wanted, unsigned streams, std::int64_t give_up_ms) {
  wait_plan plan;
  for (int i = 0; i < r->count; ++i)
    if ((wanted >> i & 1) && has_room(r, r->pipes[i]))
      add_item(&plan, r->pipes[i].fd, wait_read, i, !r->pipes[i].current);
  const struct {
    unsigned which;
    const output_queue* queue;
  } ours[] = {{out_stream, &r->outputs->out}, {err_stream, &r->outputs->err}};
  for (const auto& o : ours) {
    if (!(streams & o.which) || queue_pending(o.queue) == 0 || o.queue->failed) continue;
    std::int64_t stalled = queue_stalled_ms(o.queue);
    if (stalled >= give_up_ms) continue;
    add_item(&plan, o.queue->writer.fd, wait_write, -1);
    plan.until_give_up = std::min(plan.until_give_up, give_up_ms - stalled);
  }
  return plan;
}

// Takes the pipes that have hung up (and hold nothing) out of the plan.
void drop_finished_pipes(wait_plan* plan) {
  int kept = 0;
  for (int i = 0; i < plan->count; ++i) {
    if (plan->items[i].want == wait_read && (plan->items[i].got & wait_hangup)) continue;
    plan->items[kept] = plan->items[i];
    plan->ends_pipe[kept] = plan->ends_pipe[i];
    plan->pipe_of[kept++] = plan->pipe_of[i];
  }
  plan->count = kept;
}

pipe_set all_pipes(const relay_unit* r) { return r->count >= 64 ? ~pipe_set{0} : (pipe_set{1} << r->count) - 1; }

pipe_set current_pipes(const relay_unit* r) {
  pipe_set set = 0;
  for (int i = 0; i < r->count; ++i)
    if (r->pipes[i].current) set |= pipe_set{1} << i;
  return set;
}

// The one wait: up to `ms`, it returns at once with the pipes that hold data; otherwise it
// ends when data arrives, one of our streams has room or its reader has gone, a wake-up comes
// or the time is out. A pipe of the current run whose writers have all gone and that holds
// nothing would answer at once: it leaves the plan and the rest of the time is waited out (the
// run's end is told by its child's end); a spared one is returned, to be read to its end.
pipe_set wait_on(relay_unit* r, wait_plan* plan, long ms) {
  std::int64_t deadline = now_ms(r->system) + ms;
  for (;;) {
    if (wait_for_events(r->system, plan->items, plan->count, ms) == 0) return 0;
    pipe_set data = 0;
    bool finished_pipe = false;
    for (int i = 0; i < plan->count; ++i) {
      const wait_item& item = plan->items[i];
      if (item.want == wait_write && item.got != 0) return data;  // our stream has room, or its reader has gone
      if ((item.got & wait_read) || ((item.got & wait_hangup) && plan->ends_pipe[i]))
        data |= pipe_set{1} << plan->pipe_of[i];
      else if (item.got & wait_hangup)
        finished_pipe = true;
    }
    if (data != 0 || !finished_pipe) return data;
    drop_finished_pipes(plan);
    ms = static_cast<long>(deadline - now_ms(r->system));
    if (ms <= 0) return 0;
  }
}

// Closes a spared pipe: the start of a line it held goes out as it is.
void close_spared(relay_unit* r, relayed_pipe* p) {
  if (p->line_fill > 0) queue_hold(queue_of(r, *p), p->line, p->line_fill);
  delete[] p->line;
  p->line = nullptr;
  p->line_fill = 0;
  close_fd(&p->fd);
}

// Closes a pipe; what it still holds is counted as dropped from its stream.
void close_counting_loss(relay_unit* r, relayed_pipe* p) {
  if (p->fd < 0) return;
  int held = bytes_available(p->fd);
  output_queue* q = queue_of(r, *p);
  if (held > 0) {
    q->dropped += static_cast<unsigned long long>(held);
    if (!q->failed) q->drop_error = 0;
  }
  close_spared(r, p);
}

// Relays a spared pipe's bytes in whole lines: what comes after its last line end waits for the
// rest of its line (a line longer than the room goes out in pieces).
void relay_spared_bytes(relay_unit* r, relayed_pipe* p, const char* bytes, std::size_t n) {
  output_queue* q = queue_of(r, *p);
  if (p->line == nullptr) p->line = new char[spared_line_room];
  for (std::size_t i = 0; i < n; ++i) {
    p->line[p->line_fill++] = bytes[i];
    if (bytes[i] != '\n' && p->line_fill < spared_line_room) continue;
    queue_hold(q, p->line, p->line_fill);
    p->line_fill = 0;
  }
}

// Drops the closed pipes from the table, keeping the order of the others.
void compact(relay_unit* r) {
  int kept = 0;
  for (int i = 0; i < r->count; ++i)
    if (r->pipes[i].fd >= 0) r->pipes[kept++] = r->pipes[i];
  for (int i = kept; i < r->count; ++i) r->pipes[i] = relayed_pipe{};
  r->count = kept;
}

// One read of up to a chunk from pipe `i`, handed to its stream: held while the pipe flows, so
// a stream that keeps coming is written in batches. The bytes go into `into`; the count read
// is returned (0 at the end or when nothing came). A spared pipe whose writers have all gone
// is closed.
std::size_t read_chunk(relay_unit* r, int i, char* into) {
  relayed_pipe* p = &r->pipes[i];
  ssize_t n = read_some(p->fd, into, chunk_size);
  p->flowing = p->current && n == static_cast<ssize_t>(chunk_size);
  if (n == 0 && !p->current) close_spared(r, p);
  if (n <= 0) {
    into[0] = '\0';
    return 0;
  }
  into[n] = '\0';
  if (!p->current) {
    relay_spared_bytes(r, p, into, static_cast<std::size_t>(n));
    return static_cast<std::size_t>(n);
  }
  note_taken(&p->activity, static_cast<std::size_t>(n));
  queue_hold(queue_of(r, *p), into, static_cast<std::size_t>(n));
  return static_cast<std::size_t>(n);
}

// Reads the pipes of `ready`: the current run's into the chunks of their streams (one each),
// the others through a buffer of their own. Returns the current streams read.
unsigned read_ready(relay_unit* r, pipe_set ready, run_chunks* chunks) {
  char spared[chunk_size + 1];
  unsigned streams = no_stream;
  for (int i = 0; i < r->count; ++i) {
    if (!(ready >> i & 1)) continue;
    const relayed_pipe& p = r->pipes[i];
    if (!p.current) {
      read_chunk(r, i, spared);
    } else if (p.stream == out_stream) {
      chunks->out_len = read_chunk(r, i, chunks->out);
      streams |= out_stream;
    } else {
      chunks->err_len = read_chunk(r, i, chunks->err);
      streams |= err_stream;
    }
  }
  compact(r);
  return streams;
}

// Writes what our backlogs hold, except while a stream's pipes still flow and less than a
// batch is held.
void flush_relay(relay_unit* r, bool batching) {
  for (output_queue* q : {&r->outputs->out, &r->outputs->err}) {
    bool flowing = false;
    for (int i = 0; i < r->count && batching; ++i)
      flowing = flowing || (r->pipes[i].flowing && queue_of(r, r->pipes[i]) == q);
    if (!flowing || queue_pending(q) >= flush_batch) queue_flush(q);
  }
}

pipe_set flowing_pipes(const relay_unit* r) {
  pipe_set set = 0;
  for (int i = 0; i < r->count; ++i)
    if (r->pipes[i].current && r->pipes[i].flowing && has_room(r, r->pipes[i])) set |= pipe_set{1} << i;
  return set;
}

// Bytes still owed by each pipe of a set at an end: what it held when the end began.
struct owed_bytes {
  long long left[max_relayed_pipes] = {};
};

std::size_t relay_room(const output_queue* q) {
  std::size_t limit = queue_capacity - message_room;
  return queue_pending(q) >= limit ? 0 : limit - queue_pending(q);
}

// Takes from pipe `i` as much of what it owes as its backlog has room for. True when it owes
// more.
bool take_owed(relay_unit* r, int i, long long* left) {
  char buffer[16384];
  relayed_pipe* p = &r->pipes[i];
  while (*left > 0) {
    std::size_t room = relay_room(queue_of(r, *p));
    if (room == 0) return true;
    std::size_t want = std::min({static_cast<std::size_t>(*left), room, sizeof buffer});
    ssize_t n = read_some(p->fd, buffer, want);
    if (n <= 0) break;  // nothing more to take after all
    if (p->current)
      queue_put(queue_of(r, *p), buffer, static_cast<std::size_t>(n));
    else
      relay_spared_bytes(r, p, buffer, static_cast<std::size_t>(n));
    *left -= n;
  }
  *left = 0;
  return false;
}

// Relays everything the pipes of `set` hold now, as far as their backlogs have room, waiting
// for our readers to take bytes as `wait` allows. What a writer adds later is not waited for.
void relay_what_pipes_hold(relay_unit* r, pipe_set set, const reader_wait& wait) {
  owed_bytes owed;
  for (int i = 0; i < r->count; ++i)
    if (set >> i & 1) owed.left[i] = std::max(0, bytes_available(r->pipes[i].fd));
  for (;;) {
    unsigned streams = no_stream;
    for (int i = 0; i < r->count; ++i)
      if (take_owed(r, i, &owed.left[i])) streams |= r->pipes[i].stream;
    // Only the streams that still owe a pipe's bytes are waited for.
    wait_plan plan = plan_wait(r, 0, streams, wait.give_up_ms);
    if (plan.count == 0 || (wait.stop != nullptr && wait.stop(r))) return;
    std::int64_t now = now_ms(r->system);
    if (now >= wait.deadline) return;
    wait_for_events(r->system, plan.items, plan.count,
                    static_cast<long>(std::min(plan.until_give_up, wait.deadline - now)));
    flush_outputs(r->outputs);
  }
}

// Writes both backlogs out, waiting for their readers while they keep taking bytes, until each
// is empty or has taken nothing for `give_up_ms`, or `stop()` holds.
void drain_outputs(relay_unit* r, long give_up_ms, bool (*stop)(const relay_unit*)) {
  for (;;) {
    flush_outputs(r->outputs);
    wait_plan plan = plan_wait(r, 0, both_streams, give_up_ms);
    if (plan.count == 0 || (stop != nullptr && stop(r))) return;
    wait_for_events(r->system, plan.items, plan.count, static_cast<long>(plan.until_give_up));
  }
}

}  // namespace

void open_relay(relay_unit* relay, our_outputs* outputs, platform* system) {
  *relay = relay_unit{};
  relay->outputs = outputs;
  relay->system = system;
}

void relay_run_pipes(relay_unit* relay, int out_fd, int err_fd) {
  for (unsigned stream : {out_stream, err_stream}) {
    int fd = stream == out_stream ? out_fd : err_fd;
    if (fd < 0 || relay->count >= max_relayed_pipes) continue;
    // Our reads never wait: the relay's wait says when there is something.
    set_nonblocking(fd);
    relayed_pipe& p = relay->pipes[relay->count++];
    p = relayed_pipe{};
    p.fd = fd;
    p.stream = stream;
    p.current = true;
  }
}

int run_pipe(const relay_unit* relay, unsigned stream) {
  for (int i = 0; i < relay->count; ++i)
    if (relay->pipes[i].current && relay->pipes[i].stream == stream) return relay->pipes[i].fd;
  return -1;
}

unsigned relay_pass(relay_unit* relay, long wait_ms, run_chunks* chunks, bool* waited) {
  ++relay->passes;
  chunks->out_len = chunks->err_len = 0;
  chunks->out[0] = chunks->err[0] = '\0';
  // While data keeps coming the pass reads on without waiting; every few passes it still
  // waits on every pipe, so the quiet ones are not left behind.
  pipe_set ready = flowing_pipes(relay);
  *waited = ready == 0 || relay->passes % flowing_passes == 0;
  if (*waited) {
    wait_plan plan = plan_wait(relay, all_pipes(relay), both_streams, INT64_MAX);
    ready = wait_on(relay, &plan, wait_ms);
  }
  unsigned streams = read_ready(relay, ready, chunks);
  flush_relay(relay, true);
  return streams;
}

bool relay_for(relay_unit* relay, long ms, bool (*stop)(const relay_unit*)) {
  std::int64_t deadline = now_ms(relay->system) + ms;
  run_chunks scratch;
  for (;;) {
    flush_relay(relay, false);
    std::int64_t left = deadline - now_ms(relay->system);
    if (stop != nullptr && stop(relay)) return false;
    if (left <= 0) return true;
    wait_plan plan = plan_wait(relay, all_pipes(relay), both_streams, INT64_MAX);
    read_ready(relay, wait_on(relay, &plan, static_cast<long>(left)), &scratch);
  }
}

void relay_end_run(relay_unit* relay, bool keep_held, const reader_wait& wait) {
  relay_what_pipes_hold(relay, current_pipes(relay), wait);
  int spared = 0;
  for (int i = 0; i < relay->count; ++i) spared += relay->pipes[i].current ? 0 : 1;
  for (int i = 0; i < relay->count; ++i) {
    relayed_pipe* p = &relay->pipes[i];
    if (!p->current) continue;
    p->current = false;
    p->flowing = false;
    bool held = keep_held && !pipe_writers_gone(p->fd);
    // Room is kept for the next run's two pipes.
    if (held && spared < max_relayed_pipes - 2) {
      ++spared;
      continue;
    }
    if (held && !relay->said_full) {
      say(relay->outputs,
          "ERROR: processes a run left running hold its output pipes, but %d such pipes are relayed "
          "already: the new ones are closed\n",
          spared);
      relay->said_full = true;
    }
    close_counting_loss(relay, p);
  }
  compact(relay);
}

bool run_pipe_left_unread(const relay_unit* relay) {
  for (int i = 0; i < relay->count; ++i)
    if (relay->pipes[i].current && !has_room(relay, relay->pipes[i])) return true;
  return false;
}

bool run_pipe_written(relay_unit* relay, unsigned stream) {
  for (int i = 0; i < relay->count; ++i) {
    relayed_pipe* p = &relay->pipes[i];
    if (p->current && p->stream == stream) return child_wrote(&p->activity, p->fd, !has_room(relay, *p));
  }
  return false;
}

const char* stream_name(unsigned stream) { return stream == out_stream ? "standard output" : "standard error"; }

unsigned stream_reader_gone(const relay_unit* relay) {
  if (relay->outputs->out.failed) return out_stream;
  if (relay->outputs->err.failed) return err_stream;
  return no_stream;
}

void report_dropped_output(relay_unit* relay) {
  our_outputs* outputs = relay->outputs;
  // With our stderr's reader gone there is nobody to tell.
  if (outputs->err.failed) return;
  for (unsigned stream : {out_stream, err_stream}) {
    output_queue* q = stream == out_stream ? &outputs->out : &outputs->err;
    unsigned long long bytes = q->dropped - q->reported;
    if (bytes == 0) continue;
    q->reported = q->dropped;
    const char* why = q->failed            ? "its reader has gone"
                      : q->drop_error != 0 ? system_error_text(q->drop_error)
                                           : "its reader did not take them in time";
    say(outputs, "ERROR: %llu bytes of %s were dropped: %s\n", bytes, stream_name(stream), why);
  }
}

void finish_relay(relay_unit* relay, const reader_wait& wait) {
  relay_what_pipes_hold(relay, all_pipes(relay), wait);
  // What the processes earlier runs left write after we end is theirs: it is not counted.
  for (int i = 0; i < relay->count; ++i) {
    if (relay->pipes[i].current)
      close_counting_loss(relay, &relay->pipes[i]);
    else
      close_spared(relay, &relay->pipes[i]);
  }
  compact(relay);
  drain_outputs(relay, wait.give_up_ms, wait.stop);
  queue_discard(&relay->outputs->out);
  queue_discard(&relay->outputs->err);
  report_dropped_output(relay);
}
