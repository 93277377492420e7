// A lumenar-cli command running beside the test: its output read line by line while the
// test's own event loop runs, signals sent to it, its environment set per run.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include "support/test_support.h"

namespace clitest {

class CliProcess {
public:
    explicit CliProcess(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        process_.setProcessEnvironment(env);
        process_.setProgram(QString::fromStdString(lmtest::cliPath()));
        process_.setArguments(args);
        process_.start();
    }
    ~CliProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool started() { return process_.waitForStarted(5000); }
    // Waits until a line of standard output equals `line`.
    bool waitForLine(const QString &line, int timeoutMs = 10000)
    {
        return lmtest::waitUntil([&] { return lines().contains(line); }, timeoutMs);
    }
    QStringList lines()
    {
        out_ += QString::fromUtf8(process_.readAllStandardOutput());
        return out_.split('\n', Qt::SkipEmptyParts);
    }
    QString errors()
    {
        err_ += QString::fromUtf8(process_.readAllStandardError());
        return err_;
    }
    void signal(int number) { ::kill(pid_t(process_.processId()), number); }
    // The exit status once it ended (-1 on a crash or when it did not end in time).
    int wait(int timeoutMs = 10000)
    {
        if (!lmtest::waitUntil([&] { return process_.state() == QProcess::NotRunning; }, timeoutMs))
            return -1;
        lines();
        errors();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

private:
    QProcess process_;
    QString out_;
    QString err_;
};

// A D-Bus session bus of the test's own.
class PrivateBus {
public:
    PrivateBus()
    {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000))
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        daemon_.kill();
        daemon_.waitForFinished(2000);
    }
    bool ok() const { return !address_.isEmpty(); }
    const QString &address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

} // namespace clitest
