// The per-application user defaults store: an INI file at
// $XDG_CONFIG_HOME/Lumenar/Lumenar.conf (~/.config when unset).
//
// Every call opens the store afresh, so a key is read at the moment it is needed and a
// changed XDG_CONFIG_HOME takes effect at once (tests and tools rely on this). Absent keys
// read as none, 0 or false; there are no registered defaults. Safe to call from any
// thread: QSettings serialises access to one file.
#pragma once

#include <QString>
#include <QVariant>

namespace UserDefaults {

QString storePath();

// Null QString when the key is absent.
QString stringForKey(const QString &key);
// 0 when absent or not a number.
qint64 integerForKey(const QString &key);
// False when absent; a number is true when non-zero, a text when it reads as a non-zero
// number or "true".
bool boolForKey(const QString &key);
// Invalid QVariant when absent.
QVariant objectForKey(const QString &key);

void setString(const QString &key, const QString &value);
void setInteger(const QString &key, qint64 value);
void setBool(const QString &key, bool value);
void removeObjectForKey(const QString &key);

} // namespace UserDefaults
