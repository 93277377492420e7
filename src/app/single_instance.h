// One running application per user session: the first launch owns a D-Bus name, a later
// `lumenar FILE...` hands its files to it (they are imported as files opened from
// another application) and ends. Without a session bus every launch runs by itself.
#pragma once

#include <QObject>
#include <QStringList>

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.lumenar.Lumenar")

public:
    static constexpr const char *kService = "org.lumenar.Lumenar";
    static constexpr const char *kPath = "/org/lumenar/Lumenar";

    enum Role { Primary, Secondary, Alone };

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Tries to own the name: Primary when this process does, Secondary when another one
    // does, Alone without a bus.
    Role claim();
    // Hands absolute paths (possibly none) to the running instance; false when it did
    // not answer.
    static bool sendToRunning(const QStringList &paths);

public slots:
    Q_SCRIPTABLE void Open(const QStringList &paths);

signals:
    // Files handed over by a later launch (an empty list only asks for the window).
    void openRequested(const QStringList &paths);

private:
    bool registered_ = false;
};
