// Work from device threads reaches the thread that owns a queue or a session by being
// posted to a QObject living on that thread. One such object per thread, created on first
// use on that thread and kept for the thread's life.
#pragma once

class QObject;

QObject *LMThreadPoster();
