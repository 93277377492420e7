// The `ls -l`-like directory listing that LIST sends.
#pragma once

#include <QString>

namespace FtpListing {

// "total N\r\n", then one line per entry not beginning with "." (ended by "\n" alone):
// type and permission letters, link count (entries directly inside a directory, at least
// 1, width 5), owner, group, size (width 10), "MMM dd HH:mm" in English and local time,
// the name. Entries are in the order the directory yields them and are not followed when
// they are symbolic links. A path that is not a readable directory gives "total 0\r\n".
// Names holding CR or LF are left out: no client could name them, and they would
// counterfeit lines.
QString createList(const QString &directory);

} // namespace FtpListing
