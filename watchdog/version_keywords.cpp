// watchdog's revision keywords and identification line.
#include "common/version.h"

namespace {
char revision_keyword[] = "$Revision: 0.42 $";
char date_keyword[] = "$Date: 2020/06/21 06:14:02 $";
[[gnu::used]] const char ident[] = "@(#) watchdog             $Revision: 0.42 $  $Date: 2020/06/21 06:14:02 $";
}  // namespace

void load_version() {
  if (version_revision != nullptr) return;
  version_pieces v = parse_revision_keywords(revision_keyword, date_keyword);
  version_revision = v.revision;
  version_date = v.date;
}
