// Delayed, cancellable requests on the main event loop: perform an action on a target
// after a delay; cancel one (target, action) pair or every request of a target.
//
// An action is named, so that a later request can cancel an earlier one of the same kind
// without holding on to it (the play request 0.25 s after an item ends, the next step of
// a fade, a rescan after a burst of uploads). Requests of a target that is destroyed are
// dropped. Main thread only.
#pragma once

#include <functional>

#include <QObject>
#include <QString>

namespace DelayedPerform {

void perform(QObject *target, const QString &action, std::function<void()> fn, double delaySeconds);
void cancel(QObject *target, const QString &action);
void cancelAll(QObject *target);
// How many requests of a target are waiting (for tests and diagnostics).
int pendingCount(QObject *target, const QString &action = QString());

} // namespace DelayedPerform
