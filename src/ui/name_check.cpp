#include "ui/name_check.h"

bool NameCheck::isValidName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString NameCheck::childPath(const QString &folder, const QString &name)
{
    if (!isValidName(name))
        return QString();
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString NameCheck::sanitized(const QString &name, const QString &fallback)
{
    QString out = name;
    out.replace(QLatin1Char('/'), QLatin1Char('_'));
    out.replace(QChar(0), QLatin1Char('_'));
    if (isValidName(out))
        return out;
    return isValidName(fallback) ? fallback : QString();
}
