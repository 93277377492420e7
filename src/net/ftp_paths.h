// Client path names → paths beneath the served root (FtpRoot). Names are taken as text:
// "." and ".." are applied to the client's path before anything is looked up, so a name
// means the same whatever links lie on the way, and no ".." ever reaches the file system.
#pragma once

#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "net/ftp_root.h"

namespace FtpPaths {

using Components = QList<FtpRoot::Component>;

// The components of a client's name taken from the folder `base` (names on disk, from
// the root); a name beginning with "/" starts at the root. `raw` is the name as the
// client sent it (bytes; may be empty), kept per component when it splits like the text.
// Null when ".." would climb above the root, or the name holds NUL, CR or LF.
std::optional<Components> normalise(const QList<QByteArray> &base, const QString &text, const QByteArray &raw);

// The components of a folder given by its names on disk.
Components fromDisk(const QList<QByteArray> &names);

// "/" joined to the names: the folder as a client sees it ("/" for the root).
QByteArray visible(const QList<QByteArray> &names);

} // namespace FtpPaths
