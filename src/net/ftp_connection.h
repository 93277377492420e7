// FtpConnection: one client's control connection. It greets, turns each command line
// into a handler call through the server's command table, answers on the control
// channel, and sets up and drives the data connections that carry listings and files.
//
// Owned by its FtpServer's list; it leaves the list (and is deleted on a later pass) when
// the client quits or goes away, taking its data sockets and any open upload with it.
#pragma once

#include <memory>

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include "net/async_socket.h"
#include "net/ftp_command_line.h"
#include "net/ftp_data_connection.h"
#include "net/ftp_paths.h"

class FtpServer;

struct FtpDeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

class FtpConnection : public QObject, public AsyncSocketDelegate {
    Q_OBJECT

public:
    enum TransferMode { Passive = 0, ExtendedPassive = 1, Active = 2, LongActive = 3, ExtendedActive = 4 };
    using Handler = void (FtpConnection::*)(const QStringList &components);

    FtpConnection(AsyncSocketPtr socket, FtpServer *server);
    ~FtpConnection() override;

    // Handler names of the command table ("doQuit:", …) with "arguments:" appended →
    // the operation that runs them.
    static const QHash<QString, Handler> &handlers();

    void sendMessage(const QString &message);
    void processDataRead(const QByteArray &chunk);
    void processCommand();

    // Data side.
    quint16 choosePasvDataPort();
    void openDataSocket(quint16 port);
    void sendData(const QByteArray &data);
    void sendDataString(const QString &text);
    QString connectionAddress() const;
    // Reports of the current data connection (others are ignored).
    void didReceiveDataRead(FtpDataConnection *connection);
    void didReceiveDataWritten(FtpDataConnection *connection);
    void didFinishReading(FtpDataConnection *connection);
    void didFailSending(FtpDataConnection *connection);

    // Closes every socket and an open upload at once; nothing more is reported.
    void shutDown();

    int transferMode() const { return transferMode_; }
    quint16 dataPort() const { return dataPort_; }
    const QString &currentDir() const { return currentDir_; }
    const QString &currentUser() const { return currentUser_; }
    QString visibleCurrentDir() const;

private:
    enum class Transfer { None, Sending, Receiving };

    // Control socket.
    bool onSocketWillConnect(AsyncSocket *socket) override;
    void onSocketDidReadData(AsyncSocket *socket, const QByteArray &data, int tag) override;
    void onSocketDidWriteData(AsyncSocket *socket, int tag) override;
    void onSocketDidDisconnect(AsyncSocket *socket) override;
    // Passive listener.
    void onSocketDidAcceptNewSocket(AsyncSocket *listener, AsyncSocketPtr newSocket) override;

    // Paths.
    QString rootedPath(const QString &name) const;
    QString makeFilePathFrom(const QString &name) const;
    QString confined(const QString &path, FtpPaths::Target target, bool allowRoot = true) const;
    bool changedCurrentDirectoryTo(const QString &name);

    // Data connections.
    bool dataPathReady() const;
    bool transferBusy() const;
    void startQueuedTransfer();
    void sendFile(int fd);
    void closeDataConnection();
    void abandonTransfer();
    void finishUpload(bool connected = true);
    void syntaxError();

    // Handlers, one per command word (RMD shares DELE's).
    void doQuit(const QStringList &c);
    void doUser(const QStringList &c);
    void doPass(const QStringList &c);
    void doSyst(const QStringList &c);
    void doNoop(const QStringList &c);
    void doFeat(const QStringList &c);
    void doStat(const QStringList &c);
    void doType(const QStringList &c);
    void doOpts(const QStringList &c);
    void doPwd(const QStringList &c);
    void doCwd(const QStringList &c);
    void doCdUp(const QStringList &c);
    void doList(const QStringList &c);
    void doRetr(const QStringList &c);
    void doStor(const QStringList &c);
    void doDele(const QStringList &c);
    void doMkdir(const QStringList &c);
    void doSize(const QStringList &c);
    void doMlst(const QStringList &c);
    void doRnfr(const QStringList &c);
    void doRnto(const QStringList &c);
    void doPasv(const QStringList &c);
    void doEpsv(const QStringList &c);
    void doPort(const QStringList &c);
    void doLprt(const QStringList &c);
    void doEprt(const QStringList &c);
    void startActive(int mode, int port);

    int transferMode_ = Passive;
    AsyncSocketPtr connectionSocket_;
    FtpServer *server_;                          // not owned
    AsyncSocketPtr dataSocket_;                  // passive listener or outgoing socket
    std::unique_ptr<FtpDataConnection, FtpDeleteLater> dataConnection_;
    QStringList msgComponents_;
    quint16 dataPort_ = 2001;
    QList<QByteArray> queuedData_;               // output waiting for a data connection
    int queuedFile_ = -1;                        // a file waiting for a data connection
    QString currentUser_;
    QString currentDir_;
    QString currentFile_;
    int currentFileHandle_ = -1;
    QString rnfrFilename_;
    Transfer transfer_ = Transfer::None;
    bool uploadFailed_ = false;
    bool quitting_ = false;
    FtpLineBuffer lines_;
};
