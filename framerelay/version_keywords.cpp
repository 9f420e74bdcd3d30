// framerelay's Header keyword and identification line.
#include "common/version.h"

namespace {
char header_keyword[] = "$Header: /cvsroot/tools/framerelay/framerelay.cpp,v 0.24 2016/02/17 06:44:43 builder Exp $";
[[gnu::used]] const char ident[] = "@(#) xxxxxxxx            $Revision: 0.24 $  $Date: 2016/02/17 06:44:43 $";
}  // namespace

void load_version() {
  if (version_revision != nullptr) return;
  version_pieces v = parse_header_keyword(header_keyword);
  version_revision = v.revision;
  version_date = v.date;
}
