// The child pipeline: wget writes the camera stream into the fetch pipe, we cut frames out of
// it and write them into the feed pipe, which ffmpeg reads as its standard input.
#pragma once
#include "platform/process.h"

constexpr int vector_room = 256;  // entries of each argument vector, the null entry included
constexpr int pipe_buffer_size = 65536;

struct pipeline_state {
  process_handle fetcher_process;
  process_handle encoder_process;
  int fetch_fd = -1;  // our read end of the fetch pipe; -1 while it does not exist
  int feed_fd = -1;   // our write end of the feed pipe; -1 while it does not exist
};

extern pipeline_state pipeline;

// Fills `argv` (room for vector_room entries) with the fetcher's words; returns their number.
int build_fetcher_vector(const char* argv[]);

// The same for the encoder. False when the two extra lists do not fit the room.
bool build_encoder_vector(const char* argv[], int* count);

// True when the encoder's vector, with both extra lists, fits its room.
bool encoder_vector_fits();

// List and start wget / ffmpeg on their pipes. A failed start of either program ends the
// process with exit status 1; a pipe that cannot be made is reported and leaves its fd at -1.
void start_fetcher();
void start_encoder();

// terminate nonzero: ends the process (exit code 127) and returns 0. Otherwise 0 while it
// runs, -1 once it has ended or cannot be asked.
int child_status(process_handle* process, int terminate);

// The system's text for an error code (0: the current errno), trailing blanks and line ends
// removed; one 256-byte buffer rewritten by every call.
const char* system_error_text(int code);
