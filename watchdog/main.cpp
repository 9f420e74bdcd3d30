// watchdog: supervises a console program, restarting it when it hangs or ends.
#include <cstdio>
#include <cstdlib>

#include "common/program_location.h"
#include "platform/pipe.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/run_cgroup.h"
#include "platform/signal.h"
#include "watchdog/output_queue.h"
#include "watchdog/run_settings.h"
#include "watchdog/supervise.h"

int main(int argc, char** argv) {
  prepare_standard_streams();
  locate_program(argc > 0 ? argv[0] : "", program_name, sizeof program_name, program_dir, sizeof program_dir, true,
                 true, separator_rule::plain);

  // Parsed once; from here on the settings are only read. They live as long as the process:
  // the cycle ends it by a signal after a stop request.
  static run_settings_record settings;
  parse_outcome outcome = parse_command_line(argc, argv, &settings);
  if (outcome == parse_ok) outcome = check_run_settings(&settings);
  if (outcome == parse_usage) usage();
  if (outcome == parse_refused) return exit_start_failed;
  // Adopting ourselves or an ancestor would have us stop and kill our own line.
  if (settings.reuse_pid != 0 && is_self_or_ancestor(settings.reuse_pid)) {
    std::fprintf(stderr, "ERROR: -p%d is watchdog itself or one of its ancestors\n", settings.reuse_pid);
    return exit_start_failed;
  }
  // Without a full view of our ancestors the check above proves nothing.
  if (settings.reuse_pid != 0 && !ancestry_readable()) {
    std::fprintf(stderr, "ERROR: -p%d cannot be checked: the ancestors of watchdog cannot be read\n",
                 settings.reuse_pid);
    return exit_start_failed;
  }

  // Each run in a cgroup of its own where the system allows it, unless WATCHDOG_NO_CGROUP
  // (a nonzero number) asks for the process tree.
  const char* no_cgroup = std::getenv("WATCHDOG_NO_CGROUP");
  int tree_asked = 0;
  if (no_cgroup != nullptr) std::sscanf(no_cgroup, "%d", &tree_asked);
  static platform system;
  open_platform(&system);
  const char* held = choose_run_cgroups(&system, tree_asked == 0);
  if (debug(&settings, debug_trace_words)) std::fprintf(stderr, "%s\n", held);
  // Before we become a subreaper and install handlers: the keeper must not be below us.
  start_run_keeper(&system);

  watch_child_events(&system);
  become_subreaper();
  // Every signal whose default would end us is a stop request (a real fault of our own still
  // ends us), but for SIGUSR1 and SIGUSR2, which are passed on to the child.
  install_stop_requests(&system);
  install_end_requests(&system);
  install_signal_reports(&system, nullptr);
  install_forwarded_signals(&system);
  static our_outputs outputs;
  open_output_queues(&outputs, system.clock);
  static supervision_state state;
  init_supervision(&state, &settings, &outputs, &system);
  int status = supervise(&state);
  end_run_cgroups(&system);
  close_output_queues(&outputs);
  return status;
}
