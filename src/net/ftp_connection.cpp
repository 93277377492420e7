// The control connection's life and its data side: reading command lines, replying,
// setting up passive and active data connections and finishing transfers. The command
// handlers are in ftp_commands.cpp.
#include "net/ftp_connection.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include <QRandomGenerator>
#include <QTimer>

#include "net/ftp_server.h"
#include "net/net_limits.h"

namespace {

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

QTimer *oneShot(QObject *parent)
{
    auto *timer = new QTimer(parent);
    timer->setSingleShot(true);
    return timer;
}

} // namespace

FtpConnection::FtpConnection(AsyncSocketPtr socket, FtpServer *server)
    : connectionSocket_(std::move(socket)), server_(server)
{
    connectionSocket_->setDelegate(this);
    QString greeting = QStringLiteral("220 %1 Ftp Server ready.").arg(server->name());
    connectionSocket_->writeData((FtpCommandLine::safeReply(greeting) + QStringLiteral("\r\n")).toUtf8(), -1, 0);
    connectionSocket_->readDataToData(AsyncSocket::CRLFData(), -1, 0);
    currentDir_ = server->startDirectory();
    idleTimer_ = oneShot(this);
    QObject::connect(idleTimer_, &QTimer::timeout, this, &FtpConnection::idleTimedOut);
    idleTimer_->start(server->idleTimeout());
    passiveTimer_ = oneShot(this);
    QObject::connect(passiveTimer_, &QTimer::timeout, this, &FtpConnection::passiveTimedOut);
}

FtpConnection::~FtpConnection()
{
    shutDown();
}

void FtpConnection::shutDown()
{
    closeDataConnection();
    dataSocket_.reset();
    queuedSource_.reset();
    closeFd(currentFileHandle_);
    transfer_ = Transfer::None;
    connectionSocket_.reset();
    idleTimer_->stop();
    passiveTimer_->stop();
}

// ---- control channel

void FtpConnection::sendMessage(const QString &message)
{
    sendReplyBytes(message.toUtf8());
}

// A reply line as it goes on the wire: a name that holds CR, LF or NUL cannot add lines.
void FtpConnection::sendReplyBytes(const QByteArray &line)
{
    if (connectionSocket_ == nullptr)
        return;
    QByteArray safe = line;
    for (char &c : safe)
        if (c == '\0' || c == '\r' || c == '\n')
            c = ' ';
    connectionSocket_->writeData(safe + "\r\n", -1, 0);
    connectionSocket_->readDataToData(AsyncSocket::CRLFData(), -1, 0);
}

void FtpConnection::processDataRead(const QByteArray &chunk)
{
    connectionSocket_->readDataToData(AsyncSocket::CRLFData(), -1, 0);
    lines_.append(chunk);
    // Commands that came all at once wait here, not in memory without end: beyond the
    // limit the socket stops reading until they are worked off.
    if (lines_.buffered() > NetLimits::kMaxPendingCommandBytes)
        connectionSocket_->setReadPaused(true);
    if (!linePosted_)
        processNextLine();
}

// One command, then the next on a later pass: every other connection gets its turn in
// between.
void FtpConnection::processNextLine()
{
    linePosted_ = false;
    if (connectionSocket_ == nullptr || quitting_)
        return;
    FtpLineBuffer::Event event;
    QByteArray line;
    if (!lines_.next(&event, &line)) {
        connectionSocket_->setReadPaused(false);
        return;
    }
    idleTimer_->start(server_->idleTimeout());
    if (event == FtpLineBuffer::Event::TooLong) {
        sendMessage(QStringLiteral("500 Command line too long."));
    } else {
        line = FtpCommandLine::withoutTelnetInterrupt(line);
        msgComponents_ = FtpCommandLine::components(FtpCommandLine::decode(line));
        msgRawName_ = FtpCommandLine::rawFileName(line);
        processCommand();
    }
    if (connectionSocket_ == nullptr)
        return;
    if (connectionSocket_->queuedWriteBytes() > NetLimits::kMaxPendingReplyBytes) {
        // Commands keep coming while the replies are not read: stop before the queue
        // takes the memory of the whole application.
        qWarning("FTP: client %s does not read its replies; disconnecting", qPrintable(connectionAddress()));
        connectionSocket_->disconnect();
        return;
    }
    if (quitting_)
        return;
    if (lines_.buffered() <= NetLimits::kMaxPendingCommandBytes)
        connectionSocket_->setReadPaused(false);
    if (lines_.buffered() > 0) {
        linePosted_ = true;
        QMetaObject::invokeMethod(this, &FtpConnection::processNextLine, Qt::QueuedConnection);
    }
}

void FtpConnection::processCommand()
{
    if (msgComponents_.isEmpty() || msgComponents_[0].isEmpty())
        return;
    const QString &word = msgComponents_[0];
    auto entry = server_->commands().constFind(word.toLower());
    if (entry != server_->commands().constEnd()) {
        auto handler = handlers().constFind(entry.value() + QStringLiteral("arguments:"));
        if (handler != handlers().constEnd()) {
            (this->*handler.value())(msgComponents_);
            return;
        }
    }
    sendMessage(QStringLiteral("500 '%1': command not understood.").arg(word));
}

void FtpConnection::idleTimedOut()
{
    if (connectionSocket_ == nullptr)
        return;
    if (quitting_) {
        // The last reply was never read: close without it.
        connectionSocket_->disconnect();
        return;
    }
    if (transferSinceIdleCheck_) {
        // A transfer that moves leaves the control connection quiet; that is not idleness.
        // One that has stalled for a whole period is, as is a client gone silent.
        transferSinceIdleCheck_ = false;
        idleTimer_->start(server_->idleTimeout());
        return;
    }
    sendMessage(QStringLiteral("421 Timeout."));
    quitting_ = true;
    abandonTransfer(false);
    connectionSocket_->disconnectAfterWriting();
    idleTimer_->start(NetLimits::kGoodbyeGraceMs);
}

bool FtpConnection::onSocketWillConnect(AsyncSocket *socket)
{
    socket->readDataToData(AsyncSocket::CRLFData(), -1, 0);
    return true;
}

void FtpConnection::onSocketDidReadData(AsyncSocket *socket, const QByteArray &data, int)
{
    if (socket == connectionSocket_.get())
        processDataRead(data);
}

void FtpConnection::onSocketDidWriteData(AsyncSocket *socket, int)
{
    if (socket == connectionSocket_.get())
        socket->readDataToData(AsyncSocket::CRLFData(), -1, 0);
}

void FtpConnection::onSocketDidDisconnect(AsyncSocket *socket)
{
    if (socket != connectionSocket_.get())
        return;
    // The client quit or went away: nothing of this session stays behind.
    abandonTransfer(false);
    server_->closeConnection(this);
}

// ---- data connections

quint16 FtpConnection::choosePasvDataPort()
{
    return quint16(QRandomGenerator::global()->bounded(int(NetLimits::kPasvPortLow), 65536));
}

QString FtpConnection::connectionAddress() const
{
    return connectionSocket_ == nullptr ? QString() : peerAddress().toString();
}

QHostAddress FtpConnection::peerAddress() const
{
    return connectionSocket_ == nullptr ? QHostAddress() : plainAddress(connectionSocket_->connectedAddress());
}

quint16 FtpConnection::passiveListenerPort() const
{
    return dataSocket_ != nullptr && dataSocket_->isListening() ? dataSocket_->localPort() : 0;
}

bool FtpConnection::dataPathReady() const
{
    return (dataSocket_ != nullptr && dataSocket_->isListening()) || dataConnection_ != nullptr;
}

bool FtpConnection::transferBusy() const
{
    return transfer_ != Transfer::None;
}

void FtpConnection::openDataSocket(quint16 port)
{
    // A transfer still waiting or running is cancelled, and says so first.
    abandonTransfer(true);
    if (transferMode_ == Passive || transferMode_ == ExtendedPassive) {
        // On the address the client reached us at only, never on every interface.
        QString local = plainAddress(connectionSocket_->localAddress()).toString();
        // A port somebody else holds is no reason to promise a port we do not listen on.
        for (int attempt = 0; attempt < NetLimits::kPasvBindAttempts && dataSocket_ == nullptr; attempt++) {
            quint16 candidate = choosePasvDataPort();
            AsyncSocketPtr listener = AsyncSocket::create(this);
            if (listener->acceptOnAddress(local, candidate))
                dataSocket_ = std::move(listener);
        }
        if (dataSocket_ == nullptr) {
            sendMessage(QStringLiteral("425 Can't open data connection."));
            return;
        }
        passiveTimer_->start(server_->passiveTimeout());
        dataPort_ = dataSocket_->localPort();
        if (transferMode_ == Passive) {
            QString address = plainAddress(connectionSocket_->localAddress()).toString().replace(u'.', u',');
            sendMessage(QStringLiteral("227 Entering Passive Mode (%1,%2,%3)")
                            .arg(address, QString::number(dataPort_ / 256), QString::number(dataPort_ % 256)));
        } else {
            sendMessage(QStringLiteral("229 Entering Extended Passive Mode (|||%1|)").arg(dataPort_));
        }
        return;
    }

    // Active: always to the host the control connection comes from, whatever address the
    // client named, so that nobody can aim the server at a third party.
    dataPort_ = port;
    AsyncSocketPtr outgoing = AsyncSocket::create(this);
    AsyncSocket *socket = outgoing.get();
    dataConnection_.reset(new FtpDataConnection(std::move(outgoing), this));
    if (!socket->connectToHost(connectionAddress(), port))
        closeDataConnection();
    switch (transferMode_) {
    case Active: sendMessage(QStringLiteral("200 PORT command successful.")); break;
    case LongActive: sendMessage(QStringLiteral("228 Entering Long Passive Mode \t(af, hal, h1, h2, h3,..., pal, p1, p2...)")); break;
    default: sendMessage(QStringLiteral("200 EPRT command successful.")); break;
    }
}

bool FtpConnection::refusedPort(int port)
{
    if (port < NetLimits::kLowestActivePort)
        return true;
    // A client on this machine could aim the server at itself: at its own control port
    // (feeding it a stored file as commands) or at another client's passive port.
    QHostAddress peer = peerAddress();
    bool sameHost = peer.isLoopback() || peer.isEqual(plainAddress(connectionSocket_->localAddress()));
    return sameHost && server_->isOwnPort(quint16(port));
}

void FtpConnection::passiveTimedOut()
{
    if (dataSocket_ == nullptr || !dataSocket_->isListening())
        return;
    dataSocket_.reset();
    if (transfer_ != Transfer::None && dataConnection_ == nullptr) {
        abandonTransfer(false);
        sendMessage(QStringLiteral("425 Can't open data connection."));
    }
}

void FtpConnection::onSocketDidAcceptNewSocket(AsyncSocket *listener, AsyncSocketPtr newSocket)
{
    if (listener != dataSocket_.get() || connectionSocket_ == nullptr)
        return;
    QHostAddress peer = newSocket->connectedAddress();
    if (!peer.isEqual(connectionSocket_->connectedAddress(), QHostAddress::ConvertV4MappedToIPv4)) {
        // Only the client may connect; the listener keeps waiting for it.
        qWarning("FTP: refused a data connection from %s", qPrintable(peer.toString()));
        return;
    }
    // One connection per passive request: the listener has served its purpose.
    passiveTimer_->stop();
    dataSocket_.reset();
    closeDataConnection();
    dataConnection_.reset(new FtpDataConnection(std::move(newSocket), this));
    startQueuedTransfer();
}

void FtpConnection::startQueuedTransfer()
{
    if (dataConnection_ == nullptr)
        return;
    if (transfer_ == Transfer::Receiving)
        dataConnection_->receiveUpload(currentFileHandle_);
    else if (transfer_ == Transfer::Sending && queuedSource_ != nullptr)
        dataConnection_->send(std::move(queuedSource_));
}

void FtpConnection::queueSource(std::unique_ptr<FtpDataSource> source)
{
    transfer_ = Transfer::Sending;
    transferSinceIdleCheck_ = true;
    queuedSource_ = std::move(source);
    startQueuedTransfer();
}

void FtpConnection::closeDataConnection()
{
    if (dataConnection_ == nullptr)
        return;
    dataConnection_->closeConnection();
    dataConnection_.reset();
}

// Ends whatever transfer is set up or running. A cut-off upload is not announced: the
// file is not what the client meant to send, and it will likely send it again.
void FtpConnection::abandonTransfer(bool answer)
{
    bool running = transfer_ != Transfer::None;
    closeDataConnection();
    dataSocket_.reset();
    passiveTimer_->stop();
    queuedSource_.reset();
    closeFd(currentFileHandle_);
    currentFile_.clear();
    transfer_ = Transfer::None;
    if (running && answer)
        sendMessage(QStringLiteral("426 Connection closed; transfer aborted."));
}

void FtpConnection::beginUpload(int fd, const QString &name)
{
    currentFile_ = name;
    currentFileHandle_ = fd;
    uploadFailed_ = false;
    transfer_ = Transfer::Receiving;
    transferSinceIdleCheck_ = true;
    sendMessage(QStringLiteral("150 Opening BINARY mode data connection for '%1'.").arg(name));
    if (dataConnection_ != nullptr)
        dataConnection_->receiveUpload(fd);
}

void FtpConnection::didReceiveDataRead(FtpDataConnection *connection)
{
    if (connection != dataConnection_.get() || transfer_ != Transfer::Receiving || currentFileHandle_ < 0)
        return;
    didMoveData();
    const QByteArray &data = connection->receivedData();
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        ssize_t n = ::write(currentFileHandle_, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return didFailUpload(connection);
        p += n;
        left -= n;
    }
}

void FtpConnection::didFailUpload(FtpDataConnection *connection)
{
    if (connection != dataConnection_.get() || transfer_ != Transfer::Receiving)
        return;
    // Disk full, an I/O error or a reset connection: the client must not be told the file arrived.
    qWarning("FTP: writing %s failed: %s", qPrintable(currentFile_), strerror(errno));
    uploadFailed_ = true;
    closeDataConnection();
    finishUpload();
}

void FtpConnection::finishUpload(bool connected)
{
    currentFile_.clear();
    bool ok = !uploadFailed_ && connected;
    if (currentFileHandle_ >= 0 && ::close(currentFileHandle_) != 0)
        ok = false;
    currentFileHandle_ = -1;
    transfer_ = Transfer::None;
    if (!connected)
        sendMessage(QStringLiteral("425 Can't open data connection."));
    else
        sendMessage(ok ? QStringLiteral("226 Transfer complete.") : QStringLiteral("451 Transfer aborted."));
    if (ok)
        server_->didReceiveFileListChanged();
    if (dataConnection_ != nullptr)
        dataConnection_->setConnectionState(FtpDataConnection::Idle);
}

void FtpConnection::didReceiveDataWritten(FtpDataConnection *connection)
{
    if (connection != dataConnection_.get())
        return;
    transfer_ = Transfer::None;
    sendMessage(QStringLiteral("226 Transfer complete."));
    closeDataConnection();
}

void FtpConnection::didFailSending(FtpDataConnection *connection)
{
    if (connection != dataConnection_.get())
        return;
    transfer_ = Transfer::None;
    sendMessage(QStringLiteral("451 Transfer aborted."));
    closeDataConnection();
}

void FtpConnection::didFinishReading(FtpDataConnection *connection)
{
    if (connection != dataConnection_.get())
        return;
    bool connected = connection->wasConnected();
    dataConnection_.reset();
    switch (transfer_) {
    case Transfer::Receiving:
        finishUpload(connected);
        break;
    case Transfer::Sending:
        // Cut off before the last byte, or never made: not a complete transfer.
        queuedSource_.reset();
        transfer_ = Transfer::None;
        sendMessage(connected ? QStringLiteral("426 Connection closed; transfer aborted.")
                              : QStringLiteral("425 Can't open data connection."));
        break;
    case Transfer::None:
        break;   // nothing was asked of it: no reply
    }
}
