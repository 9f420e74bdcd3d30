// The version record, taken apart from revision-control keyword texts held in each program.
#pragma once

// Empty (null) until the program's load_version fills them; they point into the keyword texts.
extern const char* version_revision;
extern const char* version_date;

// Walks forward from `pos`, replacing each `delim` by an end mark, and stops just past the
// `count`-th one; when the text ends first, the result is its end mark.
char* cut_at(char* pos, char delim, int count);

// The two pieces of a keyword text, pointing into it (the parse cuts it in place).
struct version_pieces {
  const char* revision = nullptr;
  const char* date = nullptr;
};

// From a "$Revision: M.N $" and a "$Date: D T $" keyword: revision N, date D.
version_pieces parse_revision_keywords(char* revision_text, char* date_text);

// From a "$Header: path,v REV DATE TIME author state $" keyword.
version_pieces parse_header_keyword(char* header_text);

// Each program's own: fills the record from its keyword texts on the first call only.
void load_version();
