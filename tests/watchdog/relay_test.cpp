// The relay over real pipes: a pass's wait ends at once when data waits, lasts the whole time
// when nothing can come, and no longer than it takes data to arrive; a pipe that a spared
// process still holds is relayed after its run, until its last writer closes it.
#include "watchdog/relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/pipe.h"
#include "tests/helpers/test_platform.h"

namespace {

double seconds_of(auto&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Relay : ::testing::Test {
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  int sink[2] = {-1, -1};  // our standard output, as the relay writes it
  test_platform system;
  our_outputs outputs;
  relay_unit relay;
  run_chunks chunks;
  void SetUp() override {
    ASSERT_EQ(make_pipe(out, 0), 0);
    ASSERT_EQ(make_pipe(err, 0), 0);
    ASSERT_EQ(make_pipe(sink, 0), 0);
    set_nonblocking(sink[0]);
    open_output_writer(sink[1], &outputs.out.writer);
    outputs.out.data = new char[queue_capacity];
    open_relay(&relay, &outputs, system.get());
    relay_run_pipes(&relay, out[0], err[0]);
  }
  void TearDown() override {
    delete[] outputs.out.data;
    close_output_writer(&outputs.out.writer);
    for (int i = 0; i < relay.count; ++i) close_fd(&relay.pipes[i].fd);
    for (int* p : {out, err, sink}) close_fd(&p[1]);
    close_fd(&sink[0]);
  }
  unsigned pass(long ms, double* seconds) {
    unsigned ready = 0;
    bool waited = false;
    *seconds = seconds_of([&] { ready = relay_pass(&relay, ms, &chunks, &waited); });
    return ready;
  }
  std::string relayed() {
    std::string all(65536, '\0');
    ssize_t n = read_some(sink[0], all.data(), all.size());
    return all.substr(0, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
};

TEST_F(Relay, PassReturnsAtOnceWithThePipesThatHoldData) {
  ASSERT_EQ(write_all(out[1], "yes", 3), 0);
  double s = 0;
  EXPECT_EQ(pass(1000, &s), unsigned{out_stream});
  EXPECT_LT(s, 0.5);
  EXPECT_EQ(std::string(chunks.out, chunks.out_len), "yes");
  EXPECT_EQ(relayed(), "yes");
}

TEST_F(Relay, PipesWhoseWritersHaveGoneDoNotEndTheWait) {
  close_fd(&out[1]);
  close_fd(&err[1]);
  double s = 0;
  EXPECT_EQ(pass(1000, &s), 0u);
  EXPECT_GE(s, 0.95);
}

TEST_F(Relay, WaitEndsWhenDataArrives) {
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(write_all(out[1], "x", 1), 0);
  });
  double s = 0;
  unsigned ready = pass(2000, &s);
  writer.join();
  EXPECT_EQ(ready, unsigned{out_stream});
  EXPECT_LT(s, 1.5);
}

// The run is over but a process it spared still holds its standard output: what it writes
// is relayed in whole lines, not as the next run's output, until it closes the pipe; a chunk of
// it that filled a read holds back nothing of the next run's.
TEST_F(Relay, ASparedWriterIsRelayedUntilItCloses) {
  close_fd(&err[1]);
  relay_end_run(&relay, true, reader_wait{});
  EXPECT_EQ(relay.count, 1) << "the pipe still held stays; the other is closed";
  ASSERT_EQ(write_all(out[1], "lat", 3), 0);
  EXPECT_TRUE(relay_for(&relay, 100, nullptr));
  EXPECT_EQ(relayed(), "") << "the start of a line waits for its end";
  ASSERT_EQ(write_all(out[1], "er\n", 3), 0);
  EXPECT_TRUE(relay_for(&relay, 100, nullptr));
  EXPECT_EQ(relayed(), "later\n");
  const std::string full(chunk_size - 1, 'x');
  ASSERT_EQ(write_all(out[1], (full + "\n").data(), chunk_size), 0);
  int next[2];
  ASSERT_EQ(make_pipe(next, 0), 0);
  relay_run_pipes(&relay, next[0], -1);
  ASSERT_EQ(write_all(next[1], "run 2\n", 6), 0);
  double s = 0;
  for (int i = 0; i < 3; ++i) pass(100, &s);
  EXPECT_EQ(relayed(), full + "\nrun 2\n") << "nothing is held back";
  close_fd(&next[1]);
  relay_end_run(&relay, false, reader_wait{});
  close_fd(&out[1]);
  relay_for(&relay, 100, nullptr);
  EXPECT_EQ(relay.count, 0) << "closed once its last writer has gone";
}

}  // namespace
