// Signals on Windows: console control events (Ctrl-C, Ctrl-Break, closing the console,
// logoff, shutdown) arrive through SetConsoleCtrlHandler on a thread the system starts for
// them; the runtime's signal() covers SIGABRT, SIGFPE, SIGILL, SIGINT, SIGSEGV, SIGTERM and
// SIGBREAK.
#include "platform/signal.h"

#include "platform/pipe.h"
#include "platform/platform_system_win32.h"
#include "platform/wake_up.h"

#include <windows.h>

#include <csignal>
#include <cstring>

namespace {

constexpr int reported_signals[] = {SIGABRT, SIGFPE, SIGILL, SIGINT, SIGSEGV, SIGTERM, SIGBREAK};

// A fault raised by the program itself would be raised again at once if the handler just
// returned, so after its report the default action ends the program.
bool is_fault(int sig) { return sig == SIGSEGV || sig == SIGILL || sig == SIGFPE; }

void on_reported_signal(int sig) {
  report_signal(handler_platform, sig);
  std::signal(sig, is_fault(sig) ? SIG_DFL : on_reported_signal);  // the runtime resets it
}

int signal_of_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM;  // the console closes, the user logs off, the system shuts down
  }
}

BOOL WINAPI on_stop_event(DWORD event) {
  request_stop(handler_platform, signal_of_event(event));
  return TRUE;  // handled: the program ends in its own time
}

}  // namespace

// A write to a pipe whose reader has gone fails with an error; nothing ends the process.
void ignore_broken_pipes() {}

void install_stop_requests(platform* p, void (*on_stop)(int sig)) {
  p->on_stop = on_stop;
  handler_platform = p;
  SetConsoleCtrlHandler(on_stop_event, TRUE);
}

// The runtime raises none of the signals meant here.
void install_end_requests(platform*) {}

void install_forwarded_signals(platform*) {}

const char* signal_name(int sig, char* name, unsigned long size) {
  struct named {
    int sig;
    const char* name;
  };
  static constexpr named names[] = {{SIGINT, "SIGINT"},   {SIGTERM, "SIGTERM"}, {SIGBREAK, "SIGBREAK"},
                                    {SIGABRT, "SIGABRT"}, {SIGFPE, "SIGFPE"},   {SIGILL, "SIGILL"},
                                    {SIGSEGV, "SIGSEGV"}};
  const char* known = "a signal";
  for (const named& n : names)
    if (n.sig == sig) known = n.name;
  std::snprintf(name, size, "%s", known);
  return name;
}

[[noreturn]] void die_as_broken_pipe_writer() { ExitProcess(141); }

void install_signal_reports(platform* p, void (*report)(int sig)) {
  p->on_report = report;
  handler_platform = p;
  for (int sig : reported_signals) std::signal(sig, on_reported_signal);
}

// A console program ended by its control event ends with this status.
[[noreturn]] void die_by_signal(int) { ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT)); }

void signal_safe_write(int fd, const char* text) { write_all(fd, text, std::strlen(text)); }
