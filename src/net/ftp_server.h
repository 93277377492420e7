// FtpServer: listens on one TCP port (IPv4 and IPv6) and keeps one FtpConnection per
// client, all sharing the served folder, the change-root switch and the client encoding.
// No authentication: any user name and password are accepted.
//
// When a command changes the folder's contents (DELE/RMD, RNTO, every upload that
// completes) the server emits fileListChanged() and calls didReceiveFileListChanged() on
// its notification object when that object has such an invokable method or slot.
//
// Nobody can lock the others out: a client address holds at most
// NetLimits::kMaxConnectionsPerAddress control connections, and a connection without a
// command for idleTimeout() is closed.
//
// Main thread only; everything runs on the event loop through the socket callbacks. The
// server ignores SIGPIPE for the process (when nothing else handles it): a client going
// away during a download must fail the send, not end the application.
#pragma once

#include <memory>
#include <vector>

#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringConverter>

#include "net/async_socket.h"
#include "net/ftp_connection.h"
#include "net/ftp_root.h"

class FtpServer : public QObject, public AsyncSocketDelegate {
    Q_OBJECT

public:
    // Starts listening at once, on every interface unless `bindAddress` names one. A port
    // that cannot be bound still gives a server, one that accepts nobody (isListening()
    // tells). The folder is made canonical and held open; the process's working directory
    // is left alone.
    FtpServer(quint16 port, const QString &dir, QObject *notifyObject, const QString &bindAddress = QString(),
              QObject *parent = nullptr);
    ~FtpServer() override;

    const QString &name() const { return name_; }
    void setName(const QString &name) { name_ = name; }
    bool changeRoot() const { return changeRoot_; }
    void setChangeRoot(bool on) { changeRoot_ = on; }
    QStringConverter::Encoding clientEncoding() const { return clientEncoding_; }
    void setClientEncoding(QStringConverter::Encoding encoding) { clientEncoding_ = encoding; }
    int portNumber() const { return portNumber_; }
    const QString &baseDir() const { return baseDir_; }
    QObject *notificationObject() const { return notificationObject_; }
    void setNotificationObject(QObject *object) { notificationObject_ = object; }
    const QMap<QString, QString> &commands() const { return commands_; }

    // Time limits in milliseconds: a control connection without a command
    // (NetLimits::kIdleTimeoutMs), a passive listener nobody connects to
    // (NetLimits::kPassiveAcceptTimeoutMs). New values apply to timers started later.
    int idleTimeout() const { return idleTimeoutMs_; }
    void setIdleTimeout(int ms) { idleTimeoutMs_ = ms; }
    int passiveTimeout() const { return passiveTimeoutMs_; }
    void setPassiveTimeout(int ms) { passiveTimeoutMs_ = ms; }

    bool isListening() const;
    quint16 listeningPort() const;   // the port bound (the system's choice for port 0)
    int connectionCount() const { return int(connections_.size()); }

    // What client paths resolve beneath: the served folder with change-root on, the whole
    // file system without.
    const FtpRoot &root() const;
    // Where a new connection starts: the served folder, as names from root().
    QList<QByteArray> startDirectory() const;
    // The server listens on `port` itself: the control port or a passive listener.
    bool isOwnPort(quint16 port) const;

    // Stops listening and closes every connection at once.
    void stopFtpServer();
    // Removes a connection from the list; it is deleted on a later pass.
    void closeConnection(FtpConnection *connection);
    void didReceiveFileListChanged();
    QString createList(const QString &dir) const;

signals:
    void fileListChanged();

private:
    void onSocketDidAcceptNewSocket(AsyncSocket *listener, AsyncSocketPtr newSocket) override;
    void onSocketDidConnectToHost(AsyncSocket *, const QString &, quint16) override {}
    void onSocketDidDisconnect(AsyncSocket *socket) override;
    void refuse(AsyncSocketPtr socket, const QString &reply);
    int connectionsFrom(const QHostAddress &address) const;

    AsyncSocketPtr listenSocket_;
    QPointer<QObject> notificationObject_;
    int portNumber_;
    std::vector<std::unique_ptr<FtpConnection, FtpDeleteLater>> connections_;
    std::vector<AsyncSocketPtr> refused_;   // told why, closing once that is written
    QString name_;
    QMap<QString, QString> commands_;
    QString baseDir_;
    std::unique_ptr<FtpRoot> baseRoot_;
    mutable std::unique_ptr<FtpRoot> systemRoot_;
    bool changeRoot_ = false;
    QStringConverter::Encoding clientEncoding_ = QStringConverter::Utf8;
    int idleTimeoutMs_;
    int passiveTimeoutMs_;
};
