// FtpConnection: one client's control connection. It greets, turns each command line
// into a handler call through the server's command table, answers on the control
// channel, and sets up and drives the data connections that carry listings and files.
//
// Commands are handled one per event-loop pass, so that a client sending many at once
// cannot hold up the others. Every path a command names is resolved beneath the served
// root when the command acts (FtpRoot), never remembered from an earlier check.
//
// Owned by its FtpServer's list; it leaves the list (and is deleted on a later pass) when
// the client quits, goes away or stays idle too long, taking its data sockets and any
// open upload with it.
#pragma once

#include <memory>
#include <optional>

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include "net/async_socket.h"
#include "net/ftp_command_line.h"
#include "net/ftp_data_connection.h"
#include "net/ftp_paths.h"

class FtpServer;
class QTimer;

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
    QString connectionAddress() const;
    QHostAddress peerAddress() const;
    // The port of this connection's passive listener, 0 when it has none.
    quint16 passiveListenerPort() const;
    // Reports of the current data connection (others are ignored).
    void didReceiveDataRead(FtpDataConnection *connection);
    // Bytes moved on the data connection: the session is not idle.
    void didMoveData() { transferSinceIdleCheck_ = true; }
    void didReceiveDataWritten(FtpDataConnection *connection);
    void didFinishReading(FtpDataConnection *connection);
    void didFailSending(FtpDataConnection *connection);
    void didFailUpload(FtpDataConnection *connection);

    // Closes every socket and an open upload at once; nothing more is reported.
    void shutDown();

    int transferMode() const { return transferMode_; }
    quint16 dataPort() const { return dataPort_; }
    const QString &currentUser() const { return currentUser_; }

private:
    enum class Transfer { None, Sending, Receiving };

    // Control socket.
    bool onSocketWillConnect(AsyncSocket *socket) override;
    void onSocketDidReadData(AsyncSocket *socket, const QByteArray &data, int tag) override;
    void onSocketDidWriteData(AsyncSocket *socket, int tag) override;
    void onSocketDidDisconnect(AsyncSocket *socket) override;
    // Passive listener.
    void onSocketDidAcceptNewSocket(AsyncSocket *listener, AsyncSocketPtr newSocket) override;

    void processNextLine();
    void sendReplyBytes(const QByteArray &line);
    void idleTimedOut();
    void passiveTimedOut();

    // Paths: a client's name → the path beneath the served root (names on disk joined
    // with "/", "" for the root); null when it leads out.
    std::optional<FtpPaths::Components> clientPath(const QString &name, const QByteArray &raw) const;
    std::optional<QByteArray> diskPath(const QString &name, const QByteArray &raw) const;
    std::optional<QByteArray> argumentPath(const QStringList &c) const;
    // The parent folder of an entry, opened beneath the root, and the entry's name; -1
    // for the root itself or a parent that cannot be reached.
    int openParent(const QByteArray &path, QByteArray *name) const;
    // The entry exists; a symbolic link counts only when it stays beneath the root.
    bool entryIsReachable(const QByteArray &path) const;
    bool changedCurrentDirectoryTo(const QString &name, const QByteArray &raw);

    // Data connections.
    bool dataPathReady() const;
    bool transferBusy() const;
    void startQueuedTransfer();
    void queueSource(std::unique_ptr<FtpDataSource> source);
    void closeDataConnection();
    void abandonTransfer(bool answer);
    void finishUpload(bool connected = true);
    void beginUpload(int fd, const QString &name);
    bool refusedPort(int port);
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
    void doAppe(const QStringList &c);
    void doRest(const QStringList &c);
    void doAbor(const QStringList &c);
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
    QByteArray msgRawName_;                      // the file name argument as sent
    quint16 dataPort_ = 2001;
    std::unique_ptr<FtpDataSource> queuedSource_;   // output waiting for a data connection
    QString currentUser_;
    QList<QByteArray> currentDir_;               // names on disk, from the served root
    QString currentFile_;
    int currentFileHandle_ = -1;
    std::optional<FtpPaths::Components> rnfrPath_;   // checked again by RNTO
    qint64 restartOffset_ = 0;
    Transfer transfer_ = Transfer::None;
    bool uploadFailed_ = false;
    bool quitting_ = false;
    bool linePosted_ = false;
    bool transferSinceIdleCheck_ = false;
    FtpLineBuffer lines_;
    QTimer *idleTimer_ = nullptr;
    QTimer *passiveTimer_ = nullptr;
};
