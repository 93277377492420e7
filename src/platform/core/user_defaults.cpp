#include "platform/core/user_defaults.h"

#include <QDir>
#include <QSettings>

namespace UserDefaults {

QString storePath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/Lumenar/Lumenar.conf");
}

// QSettings' own user-scope path is fixed at first use; naming the file keeps it live.
static QSettings openStore()
{
    return QSettings(storePath(), QSettings::IniFormat);
}

QString stringForKey(const QString &key)
{
    QVariant v = openStore().value(key);
    if (!v.isValid() || v.typeId() == QMetaType::QStringList || v.typeId() == QMetaType::QVariantList)
        return QString();
    QString s = v.toString();
    if (s.isNull())
        return QStringLiteral("");   // present but empty stays distinct from absent
    return s;
}

qint64 integerForKey(const QString &key)
{
    QVariant v = openStore().value(key);
    if (!v.isValid())
        return 0;
    bool ok = false;
    qint64 n = v.toLongLong(&ok);
    if (ok)
        return n;
    double d = v.toDouble(&ok);
    return ok ? qint64(d) : 0;
}

bool boolForKey(const QString &key)
{
    QVariant v = openStore().value(key);
    if (!v.isValid())
        return false;
    QString s = v.toString().trimmed();
    if (s.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0 ||
        s.compare(QStringLiteral("yes"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    double d = s.toDouble(&ok);
    return ok && d != 0;
}

QVariant objectForKey(const QString &key)
{
    return openStore().value(key);
}

void setString(const QString &key, const QString &value)
{
    openStore().setValue(key, value);
}

void setInteger(const QString &key, qint64 value)
{
    openStore().setValue(key, value);
}

void setBool(const QString &key, bool value)
{
    openStore().setValue(key, value ? 1 : 0);
}

void removeObjectForKey(const QString &key)
{
    openStore().remove(key);
}

} // namespace UserDefaults
