// What the process does before its event loop runs, and the way termination signals
// reach that loop.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace ProcessEntry {

// Ignores SIGPIPE (a peer gone away fails the write, not the process) and SIGXFSZ (a full
// disk or size limit fails the write), sets the audio session to playback and makes it
// active (errors ignored), and stores the default theme when none is chosen.
void prepare();

} // namespace ProcessEntry

// SIGINT and SIGTERM as a signal on the main event loop: the handler only writes a byte to
// a pipe, and a notifier on the loop reads it. One instance at a time; the previous
// handlers are restored when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    bool isInstalled() const { return notifier_ != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    QSocketNotifier *notifier_ = nullptr;
};
