#include "ui/screen_factory.h"

#include <QHash>

namespace {

QHash<QString, ScreenFactory::Maker> &makers()
{
    static QHash<QString, ScreenFactory::Maker> m;
    return m;
}

} // namespace

void ScreenFactory::add(const QString &name, Maker maker)
{
    makers().insert(name, std::move(maker));
}

void ScreenFactory::remove(const QString &name)
{
    makers().remove(name);
}

bool ScreenFactory::has(const QString &name)
{
    return makers().contains(name);
}

ScreenController *ScreenFactory::make(const QString &name, UiContext *context, const QVariantMap &args)
{
    const auto it = makers().constFind(name);
    return it == makers().constEnd() ? nullptr : (*it)(context, args);
}
