// FtpServer: listens on one TCP port (IPv4 and IPv6) and keeps one FtpConnection per
// client, all sharing the served folder, the change-root switch and the client encoding.
// No authentication: any user name and password are accepted.
//
// When a command changes the folder's contents (DELE/RMD, RNTO, every finished upload)
// the server emits fileListChanged() and calls didReceiveFileListChanged() on its
// notification object when that object has such an invokable method or slot.
//
// Main thread only; everything runs on the event loop through the socket callbacks.
#pragma once

#include <memory>
#include <vector>

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringConverter>

#include "net/async_socket.h"
#include "net/ftp_connection.h"

class FtpServer : public QObject, public AsyncSocketDelegate {
    Q_OBJECT

public:
    // Starts listening at once, on every interface unless `bindAddress` names one. A port
    // that cannot be bound still gives a server, one that accepts nobody (isListening()
    // tells). The folder is made canonical; the process's working directory is left alone.
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

    bool isListening() const;
    quint16 listeningPort() const;   // the port bound (the system's choice for port 0)
    int connectionCount() const { return int(connections_.size()); }

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

    AsyncSocketPtr listenSocket_;
    QPointer<QObject> notificationObject_;
    int portNumber_;
    std::vector<std::unique_ptr<FtpConnection, FtpDeleteLater>> connections_;
    QString name_;
    QMap<QString, QString> commands_;
    QString baseDir_;
    bool changeRoot_ = false;
    QStringConverter::Encoding clientEncoding_ = QStringConverter::Utf8;
};
