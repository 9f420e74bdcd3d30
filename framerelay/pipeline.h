// The child pipeline: wget writes the camera stream into the fetch pipe, we cut frames out of
// it and write them into the feed pipe, which ffmpeg reads as its standard input.
#pragma once
#include <cstddef>
#include <string>

#include "framerelay/relay_settings.h"
#include "platform/process.h"

struct platform;

constexpr int vector_room = 256;                    // entries of each argument vector, the null entry included
constexpr int pipe_buffer_size = 262144;            // fewer wake-ups per MiB relayed
constexpr int realtime_pipe_buffer_size = 1 << 20;  // the most an unprivileged process may ask for

struct pipeline_state {
  process_handle fetcher_process;
  process_handle encoder_process;
  int fetch_fd = -1;                 // our read end of the fetch pipe; -1 while it does not exist
  int feed_fd = -1;                  // our write end of the feed pipe; -1 while it does not exist
  unsigned long long fed_bytes = 0;  // bytes written into the feed pipe so far
  bool encoder_writes_file = false;  // ffmpeg writes our standard output's file under its own name
};

// Fills `argv` (room for vector_room entries) with the fetcher's words; returns their number.
int build_fetcher_vector(const relay_settings_record& settings, const char* argv[]);

// The encoder's argument vector, with the frame-size word it points into.
struct encoder_vector {
  const char* argv[vector_room] = {};
  int count = 0;
  char size_word[32] = {};
};

// Fills `vector` with the encoder's words. Its output is "pipe:1", or `output_file` (the file
// our standard output is, under a name ffmpeg opens itself, so it can seek back and complete
// the header) when given and the room holds the word that lets ffmpeg write a file that
// exists. False when the two extra lists do not fit the room.
bool build_encoder_vector(const relay_settings_record& settings, encoder_vector* vector,
                          const char* output_file = nullptr);

// The encoder's words besides the two extra lists (its output name included).
int fixed_encoder_words(const relay_settings_record& settings);

// True when the encoder's vector, with both extra lists, fits its room.
bool encoder_vector_fits(const relay_settings_record& settings);

enum start_outcome {
  start_ok = 0,
  start_no_pipe,  // the pipe could not be made (reported); the program was not started
  start_failed,   // the program could not be started (reported)
};

// List and start wget / ffmpeg on their pipes; nothing is ended or exited here. Both end with
// us, even when we are killed outright: wget at once, ffmpeg after closing its recording.
// wget's words are listed at its first start only (`list`), not at every reconnection.
start_outcome start_fetcher(platform* system, const relay_settings_record& settings, pipeline_state* pipeline,
                            bool list = true);
start_outcome start_encoder(platform* system, const relay_settings_record& settings, pipeline_state* pipeline);

// The URL as listings show it: the password of a `user:password@` part and the values of
// query parameters whose names suggest a secret (password, pwd, key, token, auth ...) read "***".
std::string masked_url(const char* url);

// What a nonzero exit status of wget means, from its documented codes; null for others.
const char* fetcher_exit_meaning(int status);

// How wget failed, as the messages tell it ("wget ended with exit status 4 (network failure)",
// "wget killed by signal 3"), into `text`. False, with nothing written, when it ended well, was
// ended by us, or has not been seen to end.
bool describe_fetch_failure(const process_handle& fetcher, char* text, std::size_t size);
