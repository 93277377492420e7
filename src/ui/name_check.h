// Names the user types (a play list, a folder, a file) or that come from tags (a cover
// named after its album) become one path component inside a known folder. A name that
// could leave that folder or name it — empty, ".", "..", one containing '/' or NUL — is
// refused before anything touches the file system.
#pragma once

#include <QString>

namespace NameCheck {

// True when `name` is a usable single path component.
bool isValidName(const QString &name);
// `folder`/`name` when the name is valid, else a null string.
QString childPath(const QString &folder, const QString &name);
// `name` made into a valid component: '/' and NUL become '_'; an empty result, "." or
// ".." gives `fallback` (which must itself be valid, else a null string).
QString sanitized(const QString &name, const QString &fallback);

} // namespace NameCheck
