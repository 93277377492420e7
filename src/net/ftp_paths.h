// Client path names → paths in the file system, and the one check that keeps every
// command inside the served folder.
#pragma once

#include <QString>

namespace FtpPaths {

// What a command touches: the file a name leads to (symbolic links followed, for reading,
// entering, listing and storing), or the directory entry itself (deleting, renaming,
// creating), whose parent is resolved but whose own link is not followed.
enum class Target { Followed, Entry };

// `dir` joined with `name` as text; `name` may be "" (then `dir`).
QString join(const QString &dir, const QString &name);

// True when `path` is `root` or lies below it; both canonical.
bool isInside(const QString &path, const QString &root);

// Resolves the absolute `path` (as joined from a client's name) to its canonical form.
// With `confined` set, the result must lie inside `root` (canonical), and an entry that is
// a symbolic link must point inside too; `root` itself is refused unless `allowRoot`.
// A name holding NUL, CR or LF is always refused. Refusal gives a null QString.
QString resolve(const QString &path, const QString &root, bool confined, Target target, bool allowRoot);

} // namespace FtpPaths
