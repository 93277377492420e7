#include "net/ftp_data_connection.h"

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "net/ftp_connection.h"
#include "net/net_limits.h"

namespace {
enum Tag { ReadTag = 0, PieceTag = 1 };
// Pieces queued on the socket at once: one being written, one ready behind it.
constexpr int kPiecesAhead = 2;
std::atomic<bool> zeroCopyAllowed(true);
}

void FtpDataConnection::setZeroCopy(bool on)
{
    zeroCopyAllowed = on;
}

FtpDataConnection::FtpDataConnection(AsyncSocketPtr socket, FtpConnection *connection)
    : dataSocket_(std::move(socket)), ftpConnection_(connection), zeroCopy_(zeroCopyAllowed)
{
    dataSocket_->setDelegate(this);
    connected_ = dataSocket_->isConnected();
    dataSocket_->readDataWithTimeout(-1, ReadTag);
}

FtpDataConnection::~FtpDataConnection()
{
    dropSource();
    releaseDirectUpload();
}

void FtpDataConnection::send(std::unique_ptr<FtpDataSource> source)
{
    dropSource();
    source_ = std::move(source);
    sourceAtEnd_ = false;
    connectionState_ = Sending;
    // Sending starts on a later pass, once the connection is open: even an empty source
    // must not be reported sent before the client has its connection.
    if (connected_)
        QMetaObject::invokeMethod(this, &FtpDataConnection::pump, Qt::QueuedConnection);
}

void FtpDataConnection::receiveUpload(int fileFd)
{
    connectionState_ = AwaitingUpload;
    uploadFd_ = fileFd;
    if (connected_)
        startDirectUpload();
}

void FtpDataConnection::startDirectUpload()
{
    if (!zeroCopy_ || uploadFd_ < 0 || takenFd_ >= 0 || done_)
        return;
    takenFd_ = dataSocket_->takeDescriptor();
    if (takenFd_ < 0)
        return;   // bytes came early: the platform socket carries this upload
    uploadBuffer_.resize(NetLimits::kUploadChunk);
    splicing_ = pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) == 0;
    if (splicing_)
        fcntl(pipe_[1], F_SETPIPE_SZ, int(NetLimits::kUploadChunk));
    readable_ = new QSocketNotifier(takenFd_, QSocketNotifier::Read, this);
    QObject::connect(readable_, &QSocketNotifier::activated, this, &FtpDataConnection::receiveDirect);
}

// From the socket straight into the file, a share per pass: through a pipe with
// splice(2), so that the bytes are copied once, into the file; by reads and writes where
// the file system cannot take spliced bytes.
void FtpDataConnection::receiveDirect()
{
    for (qint64 budget = NetLimits::kUploadBurst; budget > 0 && !done_;) {
        ssize_t n = splicing_ ? splice(takenFd_, nullptr, pipe_[1], nullptr, size_t(NetLimits::kUploadChunk),
                                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK)
                              : ::read(takenFd_, uploadBuffer_.data(), size_t(uploadBuffer_.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n == 0) {
            finished();   // the client closed its side: the upload is whole
            return;
        }
        connectionState_ = Receiving;
        if (n > 0)
            ftpConnection_->didMoveData();
        // A reset connection leaves the file cut short: a failure, never a complete upload.
        if (n < 0 || !(splicing_ ? spliceToFile(n) : writeToFile(uploadBuffer_.constData(), n))) {
            int error = errno;
            done_ = true;
            releaseDirectUpload();
            errno = error;
            ftpConnection_->didFailUpload(this);
            return;
        }
        budget -= n;
    }
}

bool FtpDataConnection::writeToFile(const char *p, qint64 n)
{
    while (n > 0) {
        ssize_t written = ::write(uploadFd_, p, size_t(n));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        p += written;
        n -= written;
    }
    return true;
}

// Empties the pipe (`n` bytes) into the file.
bool FtpDataConnection::spliceToFile(qint64 n)
{
    while (n > 0) {
        ssize_t moved = splice(pipe_[0], nullptr, uploadFd_, nullptr, size_t(n), SPLICE_F_MOVE);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0 && errno == EINVAL) {
            // This file system takes no spliced bytes: what is in the pipe goes by writes,
            // and so does the rest of the upload.
            splicing_ = false;
            while (n > 0) {
                ssize_t got = ::read(pipe_[0], uploadBuffer_.data(), size_t(qMin<qint64>(n, uploadBuffer_.size())));
                if (got <= 0 || !writeToFile(uploadBuffer_.constData(), got))
                    return false;
                n -= got;
            }
            return true;
        }
        if (moved <= 0)
            return false;
        n -= moved;
    }
    return true;
}

void FtpDataConnection::releaseDirectUpload()
{
    if (readable_ != nullptr) {
        readable_->setEnabled(false);
        readable_->deleteLater();
        readable_ = nullptr;
    }
    for (int *fd : {&takenFd_, &pipe_[0], &pipe_[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    uploadFd_ = -1;
}

void FtpDataConnection::pump()
{
    if (done_ || !connected_ || source_ == nullptr)
        return;
    if (!sourceAtEnd_ && zeroCopy_ && source_->fileDescriptor() >= 0 && piecesInFlight_ == 0 && dataSocket_->queuedWriteBytes() == 0 &&
        sendFileDirect())
        return;
    while (piecesInFlight_ < kPiecesAhead && !sourceAtEnd_) {
        QByteArray piece;
        if (!source_->next(&piece)) {
            done_ = true;
            dropSource();
            ftpConnection_->didFailSending(this);
            return;
        }
        if (piece.isEmpty()) {
            sourceAtEnd_ = true;
            break;
        }
        piecesInFlight_++;
        dataSocket_->writeData(piece, -1, PieceTag);
    }
    if (sourceAtEnd_ && piecesInFlight_ == 0)
        sourceEnded();
}

// From the file to the socket without a copy in between. True when this pass is dealt
// with; false to send by reads instead (sendfile cannot serve this file or socket).
bool FtpDataConnection::sendFileDirect()
{
    if (directFd_ < 0) {
        // A descriptor of our own: the platform socket's write notifier stays its own.
        qintptr socketFd = dataSocket_->socketDescriptor();
        directFd_ = socketFd >= 0 ? fcntl(int(socketFd), F_DUPFD_CLOEXEC, 0) : -1;
        if (directFd_ < 0) {
            zeroCopy_ = false;
            return false;
        }
        writable_ = new QSocketNotifier(directFd_, QSocketNotifier::Write, this);
        writable_->setEnabled(false);
        QObject::connect(writable_, &QSocketNotifier::activated, this, [this] {
            writable_->setEnabled(false);
            pump();
        });
    }
    const int in = source_->fileDescriptor();
    off_t *offset = source_->fileOffset();
    const off_t start = *offset;
    qint64 budget = NetLimits::kSendfileBurst;
    while (budget > 0) {
        ssize_t n = sendfile(directFd_, in, offset, size_t(budget));
        if (n > 0) {
            ftpConnection_->didMoveData();
            budget -= n;
            continue;
        }
        if (n == 0) {
            // The end, or a file cut short meanwhile: either way, what was there is sent.
            sourceAtEnd_ = true;
            sourceEnded();
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            writable_->setEnabled(true);
            return true;
        }
        if ((errno == EINVAL || errno == ENOSYS) && *offset == start) {
            zeroCopy_ = false;
            return false;
        }
        if (errno == EPIPE || errno == ECONNRESET) {
            finished();   // cut off: the control connection answers for it
            return true;
        }
        done_ = true;
        dropSource();
        ftpConnection_->didFailSending(this);
        return true;
    }
    // This pass has had its share; go on when the loop comes back.
    writable_->setEnabled(true);
    return true;
}

void FtpDataConnection::sourceEnded()
{
    dropSource();
    if (!done_)
        ftpConnection_->didReceiveDataWritten(this);
}

void FtpDataConnection::dropSource()
{
    source_.reset();
    piecesInFlight_ = 0;
    if (writable_ != nullptr) {
        // Disabled before its descriptor closes; deleted later, as we may be inside its signal.
        writable_->setEnabled(false);
        writable_->deleteLater();
        writable_ = nullptr;
    }
    if (directFd_ >= 0)
        ::close(directFd_);
    directFd_ = -1;
}

void FtpDataConnection::closeConnection()
{
    done_ = true;
    dropSource();
    releaseDirectUpload();
    dataSocket_->setDelegate(nullptr);
    dataSocket_->disconnect();
}

bool FtpDataConnection::onSocketWillConnect(AsyncSocket *socket)
{
    socket->readDataWithTimeout(-1, ReadTag);
    return true;
}

void FtpDataConnection::onSocketDidConnectToHost(AsyncSocket *, const QString &, quint16)
{
    connected_ = true;
    pump();
    startDirectUpload();
}

void FtpDataConnection::onSocketDidReadData(AsyncSocket *socket, const QByteArray &data, int)
{
    socket->readDataWithTimeout(-1, ReadTag);
    receivedData_ = data;
    ftpConnection_->didReceiveDataRead(this);
    receivedData_.clear();
    if (!done_)
        connectionState_ = Receiving;
}

void FtpDataConnection::onSocketDidWriteData(AsyncSocket *socket, int tag)
{
    if (tag == PieceTag && piecesInFlight_ > 0) {
        piecesInFlight_--;
        ftpConnection_->didMoveData();
        pump();
    }
    if (!done_)
        socket->readDataWithTimeout(-1, ReadTag);
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
    dropSource();
    releaseDirectUpload();
    ftpConnection_->didFinishReading(this);
}
