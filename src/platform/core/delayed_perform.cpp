#include "platform/core/delayed_perform.h"

#include <list>
#include <map>

#include <QTimer>

namespace DelayedPerform {

namespace {

struct Request {
    QString action;
    QTimer *timer;
    std::function<void()> fn;
};

struct Registry {
    std::map<QObject *, std::list<Request>> byTarget;
    std::map<QObject *, QMetaObject::Connection> watches;
};

Registry &registry()
{
    static Registry r;
    return r;
}

void forget(QObject *target)
{
    Registry &r = registry();
    auto it = r.byTarget.find(target);
    if (it != r.byTarget.end()) {
        for (Request &req : it->second)
            delete req.timer;
        r.byTarget.erase(it);
    }
    auto w = r.watches.find(target);
    if (w != r.watches.end()) {
        QObject::disconnect(w->second);
        r.watches.erase(w);
    }
}

} // namespace

void perform(QObject *target, const QString &action, std::function<void()> fn, double delaySeconds)
{
    Registry &r = registry();
    if (!r.watches.count(target))
        r.watches[target] = QObject::connect(target, &QObject::destroyed, [target] { forget(target); });
    auto *timer = new QTimer();
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    std::list<Request> &list = r.byTarget[target];
    list.push_back({action, timer, std::move(fn)});
    QObject::connect(timer, &QTimer::timeout, [target, timer] {
        Registry &reg = registry();
        auto it = reg.byTarget.find(target);
        if (it == reg.byTarget.end())
            return;
        for (auto req = it->second.begin(); req != it->second.end(); ++req) {
            if (req->timer != timer)
                continue;
            std::function<void()> call = std::move(req->fn);
            it->second.erase(req);
            if (it->second.empty())
                forget(target);
            timer->deleteLater();   // we are inside its signal
            call();
            return;
        }
    });
    int ms = delaySeconds > 0 ? int(delaySeconds * 1000.0 + 0.5) : 0;
    timer->start(ms);
}

void cancel(QObject *target, const QString &action)
{
    Registry &r = registry();
    auto it = r.byTarget.find(target);
    if (it == r.byTarget.end())
        return;
    for (auto req = it->second.begin(); req != it->second.end();) {
        if (req->action == action) {
            delete req->timer;
            req = it->second.erase(req);
        } else {
            ++req;
        }
    }
    if (it->second.empty())
        forget(target);
}

void cancelAll(QObject *target)
{
    forget(target);
}

int pendingCount(QObject *target, const QString &action)
{
    Registry &r = registry();
    auto it = r.byTarget.find(target);
    if (it == r.byTarget.end())
        return 0;
    int n = 0;
    for (const Request &req : it->second)
        if (action.isNull() || req.action == action)
            n++;
    return n;
}

} // namespace DelayedPerform
