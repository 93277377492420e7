// Whole-file writes that never leave a half-written file behind: the bytes go to a hidden
// file beside the target, are flushed to the disk, and only then take the target's name.
// A crash, a full disk or a size limit leaves the old file (or no file) as it was, and
// removes the temporary one. Any thread.
#pragma once

#include <QByteArray>
#include <QString>

namespace AtomicFile {

// Replaces the file at `path`; through symbolic links (links to links too) the file they
// lead to is replaced and every link stays. An existing file keeps its permissions.
bool replace(const QString &path, const QByteArray &bytes);
// Creates the file only when nothing is at `path`, even against a writer racing for the
// same name; true when the file exists afterwards (written here or already there).
bool createOnce(const QString &path, const QByteArray &bytes);

} // namespace AtomicFile
