#include "platform/thread_poster.h"

#include <memory>

#include <QObject>

QObject *LMThreadPoster()
{
    thread_local std::unique_ptr<QObject> poster;
    if (!poster)
        poster = std::make_unique<QObject>();
    return poster.get();
}
