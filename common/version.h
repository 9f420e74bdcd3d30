// The version record, taken apart from revision-control keyword texts held in each program.
#pragma once

// Empty (null) until the program's load_version fills them; they point into the keyword texts.
extern const char* version_revision;
extern const char* version_date;

// Walks forward from `pos`, replacing each `delim` by an end mark, and stops just past the
// `count`-th one; when the text ends first, the result is its end mark.
char* cut_at(char* pos, char delim, int count);

// Fills the record from a "$Revision: M.N $" and a "$Date: D T $" keyword: revision N, date D.
void parse_revision_keywords(char* revision_text, char* date_text);

// Fills the record from a "$Header: path,v REV DATE TIME author state $" keyword.
void parse_header_keyword(char* header_text);

// Each program's own: fills the record from its keyword texts on the first call only.
void load_version();

// Clears the record, so tests can parse again.
void reset_version_record();
