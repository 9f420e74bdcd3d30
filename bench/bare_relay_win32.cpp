// The Windows baseline for watchdog.exe's relay: starts `test_child flood <MiB>` on a pipe
// the way watchdog does (_pipe, descriptor swap, _spawnl) and copies its output to ours in
// 1023-byte ReadFile/_write steps, with no peeks and no status queries.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  int fds[2];
  if (_pipe(fds, 0, _O_BINARY | _O_NOINHERIT) != 0) return 1;
  int saved = _dup(1);
  _dup2(fds[1], 1);
  intptr_t child = _spawnl(_P_NOWAIT, argv[1], "test_child", "flood", argv[2], nullptr);
  _dup2(saved, 1);
  _close(saved);
  _close(fds[1]);
  if (child == -1) return 1;
  HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(fds[0]));
  char buffer[1024];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, 1023, &got, nullptr) && got > 0) _write(1, buffer, got);
  WaitForSingleObject(reinterpret_cast<HANDLE>(child), INFINITE);
  return 0;
}
