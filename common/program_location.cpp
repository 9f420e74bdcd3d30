// Program location: split the invocation path, search PATH for a bare name, and turn the
// directory into the absolute form the system reports.
#include "common/program_location.h"

#include "common/current_directory.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

char program_name[path_area_size];
char program_dir[path_area_size];

namespace {

bool is_lead_byte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

bool is_separator_byte(char c) { return c == '/' || c == '\\'; }

// Position of the rightmost separator, or -1. One forward walk gives the same answer as
// asking is_separator_at for every position from the end.
long last_separator(const char* path, separator_rule rule) {
  long last = -1;
  bool trail = false;
  for (long i = 0; path[i] != '\0'; ++i) {
    if (trail) {
      trail = false;
      continue;
    }
    if (rule == separator_rule::double_byte && is_lead_byte(static_cast<unsigned char>(path[i]))) {
      trail = true;
      continue;
    }
    if (is_separator_byte(path[i])) last = i;
  }
  return last;
}

// Copies `text` (or its first `len` bytes) into an area, cutting it to fit.
void copy_area(char* area, std::size_t size, const char* text, std::size_t len) {
  if (size == 0) return;
  if (len >= size) len = size - 1;
  std::memcpy(area, text, len);
  area[len] = '\0';
}

void read_cwd(char* area, std::size_t size) {
  area[0] = '\0';
  if (!read_current_directory(area, size)) area[0] = '\0';
  area[size - 1] = '\0';
}

// Looks `name` up in the colon-separated PATH; on success writes the entry into `dir`.
void search_path(const char* name, char* dir) {
  const char* path = std::getenv("PATH");
  if (path == nullptr || *path == '\0') return;
  char entry[path_area_size];
  char candidate[path_area_size];
  const char* p = path;
  while (*p != '\0') {
    const char* end = std::strchr(p, ':');
    std::size_t len = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
    // An entry too long for its area cannot name a real directory here: skip it.
    if (len < sizeof entry) {
      std::memcpy(entry, p, len);
      entry[len] = '\0';
      int n = std::snprintf(candidate, sizeof candidate, "%s/%s", entry, name);
      struct stat st;
      if (n > 0 && static_cast<std::size_t>(n) < sizeof candidate && stat(candidate, &st) == 0 &&
          !S_ISDIR(st.st_mode)) {
        std::memcpy(dir, entry, len + 1);
        return;
      }
    }
    if (end == nullptr) break;
    p = end + 1;  // a colon at the very end gives no further entry
  }
}

// Turns `dir` into the absolute directory the system reports, or leaves the joined
// candidate when it cannot be entered.
void make_dir_absolute(char* dir) {
  char saved[path_area_size];
  char candidate[path_area_size];
  read_cwd(saved, sizeof saved);
  bool absolute = is_separator_byte(dir[0]) || (dir[0] != '\0' && dir[1] == ':');
  if (absolute) {
    copy_area(candidate, sizeof candidate, dir, std::strlen(dir));
  } else {
    int n = std::snprintf(candidate, sizeof candidate, "%s/%s", saved, dir);
    if (n < 0) candidate[0] = '\0';
  }
  if (!directory_as_reported(candidate, dir, path_area_size)) std::memcpy(dir, candidate, std::strlen(candidate) + 1);
}

}  // namespace

bool is_separator_at(const char* text, std::size_t index) {
  bool trail = false;
  for (std::size_t i = 0; i < index; ++i) {
    if (trail)
      trail = false;
    else if (is_lead_byte(static_cast<unsigned char>(text[i])))
      trail = true;
  }
  return !trail && is_separator_byte(text[index]);
}

void locate_program(const char* invocation_path, char* name, std::size_t name_size, char* dir_out, std::size_t dir_size,
                    bool use_path, bool make_absolute, separator_rule rule) {
  char dir[path_area_size];
  dir[0] = '\0';
  if (name_size > 0) name[0] = '\0';
  if (dir_size > 0) dir_out[0] = '\0';
  if (invocation_path == nullptr) invocation_path = "";

  long split = last_separator(invocation_path, rule);
  if (split >= 0) {
    copy_area(name, name_size, invocation_path + split + 1, std::strlen(invocation_path + split + 1));
    copy_area(dir, sizeof dir, invocation_path, static_cast<std::size_t>(split));
  } else {
    copy_area(name, name_size, invocation_path, std::strlen(invocation_path));
    if (use_path) search_path(invocation_path, dir);
  }
  if (make_absolute) make_dir_absolute(dir);
  if (dir[0] == '\0' && !use_path) copy_area(dir, sizeof dir, ".", 1);
  copy_area(dir_out, dir_size, dir, std::strlen(dir));
}
