// The control connection's life and its data side: reading command lines, replying,
// setting up passive and active data connections and finishing transfers. The command
// handlers are in ftp_commands.cpp.
#include "net/ftp_connection.h"

#include <cerrno>

#include <unistd.h>

#include <QRandomGenerator>
#include <QStringEncoder>

#include "net/ftp_server.h"
#include "net/net_limits.h"

namespace {

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

FtpConnection::FtpConnection(AsyncSocketPtr socket, FtpServer *server)
    : connectionSocket_(std::move(socket)), server_(server)
{
    connectionSocket_->setDelegate(this);
    QString greeting = QStringLiteral("220 %1 Ftp Server ready.").arg(server->name());
    connectionSocket_->writeData((FtpCommandLine::safeReply(greeting) + QStringLiteral("\r\n")).toUtf8(), -1, 0);
    connectionSocket_->readDataToData(AsyncSocket::CRLFData(), -1, 0);
    currentDir_ = server->baseDir();
}

FtpConnection::~FtpConnection()
{
    shutDown();
}

void FtpConnection::shutDown()
{
    closeDataConnection();
    dataSocket_.reset();
    queuedData_.clear();
    closeFd(queuedFile_);
    closeFd(currentFileHandle_);
    transfer_ = Transfer::None;
    connectionSocket_.reset();
}

// ---- control channel

void FtpConnection::sendMessage(const QString &message)
{
    if (connectionSocket_ == nullptr)
        return;
    QByteArray line = (FtpCommandLine::safeReply(message) + QStringLiteral("\r\n")).toUtf8();
    connectionSocket_->writeData(line, -1, 0);
    connectionSocket_->readDataToData(AsyncSocket::CRLFData(), -1, 0);
}

void FtpConnection::processDataRead(const QByteArray &chunk)
{
    connectionSocket_->readDataToData(AsyncSocket::CRLFData(), -1, 0);
    lines_.feed(chunk, [this](FtpLineBuffer::Event event, const QByteArray &line) {
        if (event == FtpLineBuffer::Event::TooLong) {
            sendMessage(QStringLiteral("500 Command line too long."));
        } else {
            msgComponents_ = FtpCommandLine::components(FtpCommandLine::decode(line));
            processCommand();
        }
        if (connectionSocket_ == nullptr)
            return false;
        if (connectionSocket_->queuedWriteBytes() > NetLimits::kMaxPendingReplyBytes) {
            // Commands keep coming while the replies are not read: stop before the queue
            // takes the memory of the whole application.
            qWarning("FTP: client %s does not read its replies; disconnecting", qPrintable(connectionAddress()));
            connectionSocket_->disconnect();
            return false;
        }
        return !quitting_;
    });
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
    abandonTransfer();
    server_->closeConnection(this);
}

// ---- data connections

quint16 FtpConnection::choosePasvDataPort()
{
    return quint16(QRandomGenerator::global()->bounded(int(NetLimits::kPasvPortLow), 65536));
}

QString FtpConnection::connectionAddress() const
{
    if (connectionSocket_ == nullptr)
        return QString();
    return plainAddress(connectionSocket_->connectedAddress()).toString();
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
    abandonTransfer();
    if (transferMode_ == Passive || transferMode_ == ExtendedPassive) {
        // A port somebody else holds is no reason to promise a port we do not listen on.
        for (int attempt = 0; attempt < NetLimits::kPasvBindAttempts && dataSocket_ == nullptr; attempt++) {
            quint16 candidate = choosePasvDataPort();
            AsyncSocketPtr listener = AsyncSocket::create(this);
            if (listener->acceptOnPort(candidate))
                dataSocket_ = std::move(listener);
        }
        if (dataSocket_ == nullptr) {
            sendMessage(QStringLiteral("425 Can't open data connection."));
            return;
        }
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
    dataSocket_.reset();
    closeDataConnection();
    dataConnection_.reset(new FtpDataConnection(std::move(newSocket), this));
    startQueuedTransfer();
}

void FtpConnection::startQueuedTransfer()
{
    if (dataConnection_ == nullptr)
        return;
    if (transfer_ == Transfer::Receiving) {
        dataConnection_->setConnectionState(FtpDataConnection::AwaitingUpload);
        return;
    }
    if (transfer_ != Transfer::Sending)
        return;
    if (!queuedData_.isEmpty()) {
        // A data connection carries one block: whatever waited goes as one.
        QByteArray block = queuedData_.size() == 1 ? queuedData_.first() : queuedData_.join();
        queuedData_.clear();
        dataConnection_->writeData(block);
    } else if (queuedFile_ >= 0) {
        int fd = queuedFile_;
        queuedFile_ = -1;
        dataConnection_->sendFile(fd);
    }
}

void FtpConnection::sendData(const QByteArray &data)
{
    transfer_ = Transfer::Sending;
    queuedData_.append(data);
    startQueuedTransfer();
}

void FtpConnection::sendDataString(const QString &text)
{
    // UTF-8 is the only client encoding the server offers.
    QStringEncoder encoder(server_->clientEncoding());
    QByteArray bytes = encoder.encode(text.normalized(QString::NormalizationForm_C));
    sendData(bytes);
}

void FtpConnection::sendFile(int fd)
{
    transfer_ = Transfer::Sending;
    closeFd(queuedFile_);
    queuedFile_ = fd;
    startQueuedTransfer();
}

void FtpConnection::closeDataConnection()
{
    if (dataConnection_ == nullptr)
        return;
    dataConnection_->closeConnection();
    dataConnection_.reset();
}

void FtpConnection::abandonTransfer()
{
    closeDataConnection();
    dataSocket_.reset();
    queuedData_.clear();
    closeFd(queuedFile_);
    bool uploading = currentFileHandle_ >= 0;
    closeFd(currentFileHandle_);
    currentFile_.clear();
    transfer_ = Transfer::None;
    if (uploading)
        server_->didReceiveFileListChanged();   // the file was created, if not completed
}

void FtpConnection::didReceiveDataRead(FtpDataConnection *connection)
{
    if (connection != dataConnection_.get() || transfer_ != Transfer::Receiving || currentFileHandle_ < 0)
        return;
    const QByteArray &data = connection->receivedData();
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        ssize_t n = ::write(currentFileHandle_, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // Disk full or an I/O error: the client must not be told the file arrived.
            qWarning("FTP: writing %s failed: %s", qPrintable(currentFile_), strerror(errno));
            uploadFailed_ = true;
            closeDataConnection();
            finishUpload();
            return;
        }
        p += n;
        left -= n;
    }
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
        queuedData_.clear();
        closeFd(queuedFile_);
        transfer_ = Transfer::None;
        sendMessage(connected ? QStringLiteral("426 Connection closed; transfer aborted.")
                              : QStringLiteral("425 Can't open data connection."));
        break;
    case Transfer::None:
        break;   // nothing was asked of it: no reply
    }
}
