// Starting wget and ffmpeg with their fixed argument vectors, joined to us by two pipes.
#include "framerelay/pipeline.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "platform/file_status.h"
#include "platform/pipe.h"
#include "platform/system_error.h"

namespace {

// One line per word; the camera's password and the secrets of its query never show (the
// listing ends up in logs).
void list_vector(const char* title, const char* const argv[], const char* url) {
  std::fprintf(stderr, "%s execute\n", title);
  for (int i = 0; argv[i] != nullptr; ++i) {
    if (argv[i] == url)
      std::fprintf(stderr, "  %2d : %s\n", i, masked_url(url).c_str());
    else
      std::fprintf(stderr, "  %2d : %s\n", i, argv[i]);
  }
}

// A pipe for one child; a failure is reported and leaves nothing made.
bool make_child_pipe(int fds[2], int buffer_size, pipe_reader reader) {
  int rc = make_pipe(fds, buffer_size, reader);
  if (rc < 0) std::fprintf(stderr, "CreatePipe() %s\n", system_error_text(-rc));
  return rc == 0;
}

// Sent to a child when we end without ending it first (killed outright): wget ends at once,
// ffmpeg finishes its recording and ends.
child_setup ended_with_us() {
  child_setup setup;
  setup.parent_death_signal = SIGTERM;
  // A hang-up sent to our whole process group (a terminal or ssh session that closes) is a stop
  // of ours: ffmpeg must not die of it before it has finished the recording, nor wget write
  // log files of its own.
  setup.ignore_hangup = true;
  return setup;
}

// Starts `argv` joined to us by one pipe: the child writes its standard output into it
// (`reader` read_by_us) or reads its standard input from it (read_by_child). Our end goes to
// `*our_end`; a start that fails leaves nothing open, with the error in `*error`.
start_outcome start_on_pipe(platform* system, process_handle* process, const char* const argv[], int buffer_size,
                            pipe_reader reader, int* our_end, int* error) {
  int fds[2];
  if (!make_child_pipe(fds, buffer_size, reader)) return start_no_pipe;
  const int child_side = reader == read_by_us ? 1 : 0;
  child_stdio stdio;
  if (reader == read_by_us)
    stdio.out = fds[child_side];
  else
    stdio.in = fds[child_side];
  *error = spawn_process(system, process, const_cast<char* const*>(argv), stdio, nullptr, nullptr, ended_with_us());
  close_fd(&fds[child_side]);  // the child alone holds its end now
  if (*error < 0) {
    close_fd(&fds[1 - child_side]);
    return start_failed;
  }
  *our_end = fds[1 - child_side];
  return start_ok;
}

}  // namespace

int build_fetcher_vector(const relay_settings_record& settings, const char* argv[]) {
  int n = 0;
  argv[n++] = "wget";
  argv[n++] = "--auth-no-challenge";
  // One request per start: on a lost connection wget would otherwise ask again from the byte
  // where it stopped, which a live camera answers with a new stream that wget then cuts.
  argv[n++] = "--tries=1";
  if (!settings.fetcher_verbose) {
    argv[n++] = "-q";
    argv[n++] = "-nv";
  }
  argv[n++] = "-O";
  argv[n++] = "-";
  // A URL that looks like an option is still the URL.
  if (settings.url[0] == '-') argv[n++] = "--";
  argv[n++] = settings.url;
  argv[n] = nullptr;
  return n;
}

// The words build_encoder_vector writes besides the -x/-X words: "ffmpeg", "-v 0", the input
// (6 words for the real-time feed, 8 for raw frames), the 6 output words and "pipe:1".
int fixed_encoder_words(const relay_settings_record& settings) {
  int words = settings.realtime ? 16 : 18;
  return settings.encoder_verbose ? words - 2 : words;
}

bool encoder_vector_fits(const relay_settings_record& settings) {
  return fixed_encoder_words(settings) + settings.encoder_args_1.count + settings.encoder_args_2.count < vector_room;
}

bool build_encoder_vector(const relay_settings_record& settings, encoder_vector* vector, const char* output_file) {
  vector->count = 0;
  if (!encoder_vector_fits(settings)) return false;
  const char** argv = vector->argv;
  int n = 0;
  std::snprintf(vector->size_word, sizeof vector->size_word, "%dx%d", settings.width, settings.height);
  argv[n++] = "ffmpeg";
  if (!settings.encoder_verbose) {
    argv[n++] = "-v";
    argv[n++] = "0";
  }
  // The real-time feed hands ffmpeg whole JPEGs, 25 to a second, which it records as they
  // are: the camera's own picture, at its own size, whatever its quality.
  const char* const realtime_input[] = {"-f", "mjpeg", "-framerate", "25", "-i", "pipe:0"};
  const char* const raw_input[] = {"-s", vector->size_word, "-f", "rawvideo", "-vcodec", "mjpeg", "-i", "pipe:0"};
  if (settings.realtime)
    for (const char* w : realtime_input) argv[n++] = w;
  else
    for (const char* w : raw_input) argv[n++] = w;
  for (int i = 0; i < settings.encoder_args_1.count; ++i) argv[n++] = settings.encoder_args_1.words[i];
  for (const char* w : {"-f", "asf", "-vcodec", settings.realtime ? "copy" : "mjpeg", "-acodec", "copy"}) argv[n++] = w;
  for (int i = 0; i < settings.encoder_args_2.count; ++i) argv[n++] = settings.encoder_args_2.words[i];
  // ffmpeg refuses to open a file that exists unless told it may ("-y"); it would not ask
  // anyone, its standard input being the feed. Without room for that word it writes to the
  // pipe, which is fine, only not seekable.
  if (output_file != nullptr && n + 2 < vector_room) {
    argv[n++] = "-y";
    argv[n++] = output_file;
  } else {
    argv[n++] = "pipe:1";
  }
  argv[n] = nullptr;
  vector->count = n;
  return true;
}

start_outcome start_fetcher(platform* system, const relay_settings_record& settings, pipeline_state* pipeline,
                            bool list) {
  const char* argv[vector_room];
  build_fetcher_vector(settings, argv);
  if (list) list_vector("wget", argv, settings.url);
  int rc = 0;
  start_outcome outcome =
      start_on_pipe(system, &pipeline->fetcher_process, argv, pipe_buffer_size, read_by_us, &pipeline->fetch_fd, &rc);
  if (outcome == start_failed) std::fprintf(stderr, "ERROR: spawnvp(wget..) %s\n", system_error_text(-rc));
  if (outcome == start_ok && process_status(&pipeline->fetcher_process) != process_state::running)
    std::fputs("wget process none ??\n", stderr);
  return outcome;
}

start_outcome start_encoder(platform* system, const relay_settings_record& settings, pipeline_state* pipeline) {
  encoder_vector vector;
  const char* const* argv = vector.argv;
  // A recording into a fresh file is written by ffmpeg itself, which then seeks back and puts
  // the duration and the index into the header.
  const char* output_file = standard_output_file_name();
  if (!build_encoder_vector(settings, &vector, output_file)) return start_failed;  // refused before any child started
  list_vector("ffmpeg", argv, settings.url);
  // The real-time feed writes 25 whole JPEGs a second, of up to a few MB each for HD
  // cameras: a larger pipe takes them in fewer writes.
  int buffer_size = settings.realtime ? realtime_pipe_buffer_size : pipe_buffer_size;
  int rc = 0;
  start_outcome outcome =
      start_on_pipe(system, &pipeline->encoder_process, argv, buffer_size, read_by_child, &pipeline->feed_fd, &rc);
  if (outcome == start_failed) std::fputs("ERROR: spawnvp(ffmpeg..)\n", stderr);
  if (outcome != start_ok) return outcome;
  pipeline->encoder_writes_file = output_file != nullptr && std::strcmp(argv[vector.count - 1], output_file) == 0;
  if (process_status(&pipeline->encoder_process) != process_state::running)
    std::fputs("ERROR: ffmpeg process none ??\n", stderr);
  return start_ok;
}

namespace {

// Where the password of a `user:password@` part of `url` lies: true with its offset and
// length, false when the URL holds no password.
bool find_url_password(const char* url, std::size_t* start, std::size_t* length) {
  // The authority runs from after "scheme://" (when the URL starts with one) to the first
  // '/', '?' or '#'; its last '@' ends the user part, whose first ':' starts the password.
  const char* scheme_end = std::strstr(url, "://");
  bool has_scheme = scheme_end != nullptr && std::strcspn(url, "/?#") > static_cast<std::size_t>(scheme_end - url);
  const char* authority = has_scheme ? scheme_end + 3 : url;
  std::size_t authority_length = std::strcspn(authority, "/?#");
  const char* at = nullptr;
  for (const char* p = authority; p < authority + authority_length; ++p)
    if (*p == '@') at = p;
  if (at == nullptr) return false;
  const void* colon = std::memchr(authority, ':', static_cast<std::size_t>(at - authority));
  if (colon == nullptr) return false;
  const char* password = static_cast<const char*>(colon) + 1;
  *start = static_cast<std::size_t>(password - url);
  *length = static_cast<std::size_t>(at - password);
  return true;
}

// A query parameter whose name holds one of these words, in any case, carries a secret
// (cameras take `pwd=`, `pw=`, `psw=`, `loginpas=`, `password=`, `user_key=`, `token=`,
// `auth=` ...).
bool names_a_secret(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* word : {"pas", "pw", "psw", "key", "token", "auth", "secret"})
    if (lower.find(word) != std::string::npos) return true;
  return false;
}

}  // namespace

std::string masked_url(const char* url) {
  std::string shown = url;
  std::size_t start = 0, length = 0;
  if (find_url_password(url, &start, &length)) shown.replace(start, length, "***");
  // The parameters run from the first '?' (or a ';' of the path) to the fragment, split at '&'
  // or ';'.
  const std::size_t after_scheme = shown.find("://");
  const std::size_t query = shown.find_first_of("?;", after_scheme == std::string::npos ? 0 : after_scheme + 3);
  if (query == std::string::npos) return shown;
  const std::size_t end = std::min(shown.find('#', query), shown.size());
  const std::string_view all(shown);
  std::string masked(all.substr(0, query + 1));
  for (std::size_t at = query + 1;;) {
    std::size_t next = std::min(shown.find_first_of("&;", at), end);
    std::string_view parameter = all.substr(at, next - at);
    std::size_t equals = parameter.find('=');
    if (equals != std::string_view::npos && names_a_secret(parameter.substr(0, equals)))
      masked.append(parameter.substr(0, equals + 1)).append("***");
    else
      masked.append(parameter);
    if (next >= end) break;
    masked += shown[next];
    at = next + 1;
  }
  return masked.append(all.substr(end));
}

const char* fetcher_exit_meaning(int status) {
  // wget's documented exit statuses.
  switch (status) {
    case 1: return "generic error";
    case 2: return "parse error";
    case 3: return "file I/O error";
    case 4: return "network failure";
    case 5: return "SSL verification failure";
    case 6: return "username/password authentication failure";
    case 7: return "protocol errors";
    case 8: return "server issued an error response";
    default: return nullptr;
  }
}

bool describe_fetch_failure(const process_handle& fetcher, char* text, std::size_t size) {
  if (!fetcher.exit_code_known || fetcher.kill_sent || fetcher.exit_code == 0) return false;
  const char* meaning = fetcher_exit_meaning(fetcher.exit_code);
  if (fetcher.end_signal != 0)
    std::snprintf(text, size, "wget killed by signal %d", fetcher.end_signal);
  else if (meaning != nullptr)
    std::snprintf(text, size, "wget ended with exit status %d (%s)", fetcher.exit_code, meaning);
  else
    std::snprintf(text, size, "wget ended with exit status %d", fetcher.exit_code);
  return true;
}
