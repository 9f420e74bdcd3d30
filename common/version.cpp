// Parsing of revision-control keyword texts into the version record.
#include "common/version.h"

const char* version_revision = nullptr;
const char* version_date = nullptr;

char* cut_at(char* pos, char delim, int count) {
  int seen = 0;
  while (*pos != '\0') {
    if (*pos == delim) {
      *pos++ = '\0';
      if (++seen == count) return pos;
    } else {
      ++pos;
    }
  }
  return pos;
}

version_pieces parse_revision_keywords(char* revision_text, char* date_text) {
  version_pieces v;
  char* pos = cut_at(revision_text, ' ', 1);  // past "$Revision:"
  pos = cut_at(pos, '.', 1);                  // past the major revision
  v.revision = pos;
  cut_at(pos, ' ', 1);
  pos = cut_at(date_text, ' ', 1);  // past "$Date:"
  v.date = pos;
  cut_at(pos, ' ', 1);  // the time of day is not used
  return v;
}

version_pieces parse_header_keyword(char* header_text) {
  version_pieces v;
  char* pos = cut_at(header_text, ' ', 2);  // past "$Header:" and the file path
  v.revision = pos;
  pos = cut_at(pos, ' ', 1);
  v.date = pos;
  cut_at(pos, ' ', 1);  // time, author and state are not used
  return v;
}
