#include "net/ftp_data_connection.h"

#include <cerrno>

#include <unistd.h>

#include "net/ftp_connection.h"
#include "net/net_limits.h"

namespace {
enum Tag { BlockTag = 0, FileChunkTag = 1 };
// Chunks of a file queued on the socket at once: one being written, one ready behind it.
constexpr int kFileChunksAhead = 2;
}

FtpDataConnection::FtpDataConnection(AsyncSocketPtr socket, FtpConnection *connection)
    : dataSocket_(std::move(socket)), ftpConnection_(connection)
{
    dataSocket_->setDelegate(this);
    connected_ = dataSocket_->isConnected();
    dataSocket_->readDataWithTimeout(-1, 0);
}

FtpDataConnection::~FtpDataConnection()
{
    closeFile();
}

void FtpDataConnection::writeData(const QByteArray &block)
{
    connectionState_ = Sending;
    dataSocket_->writeData(block, -1, BlockTag);
    dataSocket_->readDataWithTimeout(-1, 0);
}

void FtpDataConnection::sendFile(int fd)
{
    closeFile();
    file_ = fd;
    fileAtEnd_ = false;
    connectionState_ = Sending;
    // Reading starts once the connection is open, on a later pass: even an empty file
    // must not be reported sent before the client has its connection.
    if (connected_)
        QMetaObject::invokeMethod(this, &FtpDataConnection::startFile, Qt::QueuedConnection);
}

void FtpDataConnection::startFile()
{
    while (chunksInFlight_ < kFileChunksAhead && !fileAtEnd_ && file_ >= 0 && !done_)
        queueFileChunk();
}

void FtpDataConnection::queueFileChunk()
{
    QByteArray chunk(NetLimits::kRetrChunk, Qt::Uninitialized);
    ssize_t n;
    do {
        n = ::read(file_, chunk.data(), size_t(chunk.size()));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        closeFile();
        done_ = true;
        ftpConnection_->didFailSending(this);
        return;
    }
    if (n == 0) {
        // The end, or a file cut short meanwhile: either way, what was there is sent.
        fileAtEnd_ = true;
        closeFile();
        if (chunksInFlight_ == 0)
            ftpConnection_->didReceiveDataWritten(this);
        return;
    }
    chunk.truncate(n);
    chunksInFlight_++;
    dataSocket_->writeData(chunk, -1, FileChunkTag);
}

void FtpDataConnection::closeFile()
{
    if (file_ >= 0)
        ::close(file_);
    file_ = -1;
}

void FtpDataConnection::closeConnection()
{
    done_ = true;
    closeFile();
    dataSocket_->setDelegate(nullptr);
    dataSocket_->disconnect();
}

bool FtpDataConnection::onSocketWillConnect(AsyncSocket *socket)
{
    socket->readDataWithTimeout(-1, 0);
    return true;
}

void FtpDataConnection::onSocketDidConnectToHost(AsyncSocket *, const QString &, quint16)
{
    bool waiting = !connected_ && file_ >= 0;
    connected_ = true;
    if (waiting)
        startFile();
}

void FtpDataConnection::onSocketDidReadData(AsyncSocket *socket, const QByteArray &data, int)
{
    socket->readDataWithTimeout(-1, 0);
    receivedData_ = data;
    ftpConnection_->didReceiveDataRead(this);
    receivedData_.clear();
    if (!done_)
        connectionState_ = Receiving;
}

void FtpDataConnection::onSocketDidWriteData(AsyncSocket *socket, int tag)
{
    if (tag == FileChunkTag) {
        chunksInFlight_--;
        if (file_ >= 0 && !fileAtEnd_)
            queueFileChunk();
        else if (fileAtEnd_ && chunksInFlight_ == 0 && !done_)
            ftpConnection_->didReceiveDataWritten(this);
    } else if (!done_) {
        ftpConnection_->didReceiveDataWritten(this);
    }
    if (!done_)
        socket->readDataWithTimeout(-1, 0);
}

bool FtpDataConnection::onReadStreamEnded(AsyncSocket *)
{
    return connectionState_ == AwaitingUpload || connectionState_ == Receiving;
}

void FtpDataConnection::onSocketWillDisconnectWithError(AsyncSocket *, const AsyncSocketError &)
{
    finished();
}

void FtpDataConnection::onSocketDidDisconnect(AsyncSocket *)
{
    finished();
}

void FtpDataConnection::finished()
{
    if (done_)
        return;
    done_ = true;
    closeFile();
    ftpConnection_->didFinishReading(this);
}
