// System errors on Windows: GetLastError's codes translated into errno's terms, and the C
// runtime's texts for them.
#include "platform/system_error.h"
#include "platform/system_message.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int errno_from_system_code(unsigned long code) {
  switch (code) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_MOD_NOT_FOUND: return ENOENT;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME: return EINVAL;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT: return ENOMEM;
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT: return ENOEXEC;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED: return EPIPE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: return EEXIST;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_NOT_SUPPORTED: return ENOSYS;
    case ERROR_INVALID_FUNCTION: return EINVAL;
    case ERROR_OPERATION_ABORTED: return EINTR;
    case ERROR_NOT_READY:
    case ERROR_BUSY: return EBUSY;
    case ERROR_MAX_THRDS_REACHED:
    case ERROR_NO_PROC_SLOTS: return EAGAIN;
    default: return EIO;
  }
}

void system_message(int code, char* text, std::size_t size) {
  char message[256] = "";
  if (strerror_s(message, sizeof message, code) != 0) message[0] = '\0';
  std::snprintf(text, size, "%s", message);
}
