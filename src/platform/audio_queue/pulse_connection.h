// The process's one connection to the PulseAudio server (also PipeWire's pulse server), on
// libpulse's threaded main loop. Shared by the output queue's streams and the audio session.
//
// libpulse calls back on its own thread with the main-loop lock held; every other thread
// takes the lock (Locker) before touching the context or a stream. Observers are called on
// libpulse's thread with the lock held and must only record or post, never block.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include <pulse/pulseaudio.h>

namespace lmpulse {

class Observer {
public:
    // A sink or the server changed (default sink, ports), or the connection came or went.
    virtual void serverChanged() {}
    // The server asked one of our streams to cork or uncork (PA_STREAM_EVENT_REQUEST_*).
    virtual void streamEvent(const char *name) { (void)name; }
    // A stream of the server (ours or another's) changed: volume, state, sink.
    virtual void sinkInputChanged(uint32_t index) { (void)index; }

protected:
    ~Observer() = default;
};

class Connection {
public:
    static Connection &shared();

    // Connects when not connected; false when no server answers within the time-out.
    // Call without holding the lock.
    bool ensureConnected();

    pa_threaded_mainloop *loop() const { return loop_; }
    // Valid while connected; use with the lock held.
    pa_context *context() const { return context_; }
    bool connectedLocked() const;

    void lock() { pa_threaded_mainloop_lock(loop_); }
    void unlock() { pa_threaded_mainloop_unlock(loop_); }
    // With the lock held: waits until done() holds; false after timeoutMs.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);
    // With the lock held: waits for an operation to finish; false after timeoutMs.
    bool waitFor(pa_operation *op, int timeoutMs);
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

    void addObserver(Observer *observer);
    void removeObserver(Observer *observer);
    void notifyStreamEvent(const char *name);
    void notifySinkInputChanged(uint32_t index);

private:
    Connection();
    static void contextState(pa_context *c, void *userdata);
    static void subscribed(pa_context *c, pa_subscription_event_type_t type, uint32_t index, void *userdata);
    void notifyServerChanged();

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    bool wasReady_ = false;
    std::mutex observersMutex_;
    std::vector<Observer *> observers_;
};

class Locker {
public:
    explicit Locker(Connection &c) : c_(c) { c_.lock(); }
    ~Locker() { c_.unlock(); }
    Locker(const Locker &) = delete;
    Locker &operator=(const Locker &) = delete;

private:
    Connection &c_;
};

} // namespace lmpulse
