#include "net/async_socket.h"

#include <cerrno>
#include <functional>
#include <mutex>
#include <optional>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "net/net_limits.h"

namespace {

// The platform listener, handing each accepted descriptor to its socket.
class Listener : public QTcpServer {
public:
    explicit Listener(QObject *parent) : QTcpServer(parent) {}
    std::function<void(qintptr)> onIncoming;

protected:
    void incomingConnection(qintptr descriptor) override { onIncoming(descriptor); }
};

// Host-name resolution is serialised process-wide.
std::mutex &resolverLock()
{
    static std::mutex lock;
    return lock;
}

QString posixDomain() { return QStringLiteral("NSPOSIXErrorDomain"); }

} // namespace

QHostAddress plainAddress(const QHostAddress &address)
{
    bool mapped = false;
    quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped && address.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(v4);
    return address;
}

void AsyncSocketDeleter::operator()(AsyncSocket *socket) const
{
    if (socket == nullptr)
        return;
    socket->setDelegate(nullptr);
    socket->disconnect();
    socket->deleteLater();
}

void AsyncSocketDelegate::onSocketDidAcceptNewSocket(AsyncSocket *, AsyncSocketPtr) {}
void AsyncSocketDelegate::onSocketDidConnectToHost(AsyncSocket *, const QString &, quint16) {}
void AsyncSocketDelegate::onSocketDidReadData(AsyncSocket *, const QByteArray &, int) {}
void AsyncSocketDelegate::onSocketDidWriteData(AsyncSocket *, int) {}
void AsyncSocketDelegate::onSocketWillDisconnectWithError(AsyncSocket *, const AsyncSocketError &) {}
void AsyncSocketDelegate::onSocketDidDisconnect(AsyncSocket *) {}

AsyncSocket::AsyncSocket(AsyncSocketDelegate *delegate, qint32 userData)
    : userData_(userData), delegate_(delegate)
{
}

AsyncSocket::~AsyncSocket()
{
    delegate_ = nullptr;
    close();
}

AsyncSocketPtr AsyncSocket::create(AsyncSocketDelegate *delegate, qint32 userData)
{
    return AsyncSocketPtr(new AsyncSocket(delegate, userData));
}

const QByteArray &AsyncSocket::ZeroData()
{
    static const QByteArray data(1, '\0');
    return data;
}
const QByteArray &AsyncSocket::LFData()
{
    static const QByteArray data("\n");
    return data;
}
const QByteArray &AsyncSocket::CRData()
{
    static const QByteArray data("\r");
    return data;
}
const QByteArray &AsyncSocket::CRLFData()
{
    static const QByteArray data("\r\n");
    return data;
}

AsyncSocketError AsyncSocket::errorWithCode(ErrorCode code)
{
    const char *text = "General CFSocket error";
    switch (code) {
    case CFSocketError: text = QT_TRANSLATE_NOOP("AsyncSocket", "General CFSocket error"); break;
    case CanceledError: text = QT_TRANSLATE_NOOP("AsyncSocket", "Connection canceled"); break;
    case ReadMaxedOutError: text = QT_TRANSLATE_NOOP("AsyncSocket", "Read operation reached set maximum length"); break;
    case ReadTimeoutError: text = QT_TRANSLATE_NOOP("AsyncSocket", "Read operation timed out"); break;
    case WriteTimeoutError: text = QT_TRANSLATE_NOOP("AsyncSocket", "Write operation timed out"); break;
    }
    return {QString::fromLatin1(kErrorDomain), code, QCoreApplication::translate("AsyncSocket", text)};
}

// ---- listening and connecting

void AsyncSocket::checkIdle(const char *what) const
{
    if (delegate_ == nullptr)
        throw AsyncSocketException(std::string("Attempting to ") + what + " without a delegate. Set a delegate first.");
    if (server4_ != nullptr || server6_ != nullptr || socket_ != nullptr)
        throw AsyncSocketException(std::string("Attempting to ") + what +
                                   " while connected or accepting connections. Disconnect first.");
}

bool AsyncSocket::acceptOnPort(quint16 port, AsyncSocketError *error)
{
    return acceptOnAddress(QString(), port, error);
}

bool AsyncSocket::failAccept(AsyncSocketError *error, const AsyncSocketError &value)
{
    if (error != nullptr)
        *error = value;
    for (QTcpServer **server : {&server4_, &server6_}) {
        if (*server != nullptr) {
            (*server)->close();
            (*server)->deleteLater();
            *server = nullptr;
        }
    }
    return false;
}

bool AsyncSocket::acceptOnAddress(const QString &address, quint16 port, AsyncSocketError *error)
{
    checkIdle("accept");

    std::optional<QHostAddress> address4, address6;
    if (address.isEmpty()) {
        address4 = QHostAddress(QHostAddress::AnyIPv4);
        address6 = QHostAddress(QHostAddress::AnyIPv6);
    } else if (address == QLatin1String("localhost") || address == QLatin1String("loopback")) {
        address4 = QHostAddress(QHostAddress::LocalHost);
        address6 = QHostAddress(QHostAddress::LocalHostIPv6);
    } else {
        struct addrinfo hints = {};
        hints.ai_flags = AI_PASSIVE;
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        struct addrinfo *found = nullptr;
        QByteArray service = QByteArray::number(port);
        std::lock_guard<std::mutex> hold(resolverLock());
        int rc = getaddrinfo(address.toUtf8().constData(), service.constData(), &hints, &found);
        if (rc != 0) {
            if (error != nullptr)
                *error = {QStringLiteral("kCFStreamErrorDomainNetDB"), rc, QString::fromLocal8Bit(gai_strerror(rc))};
            return false;
        }
        for (struct addrinfo *a = found; a != nullptr; a = a->ai_next) {
            if (a->ai_family == AF_INET && !address4)
                address4 = QHostAddress(a->ai_addr);
            else if (a->ai_family == AF_INET6 && !address6)
                address6 = QHostAddress(a->ai_addr);
        }
        freeaddrinfo(found);
        if (!address4 && !address6)
            return false;
    }

    auto makeListener = [this] {
        auto *listener = new Listener(this);
        listener->onIncoming = [this](qintptr descriptor) { acceptNative(descriptor); };
        // Out of descriptors: the platform stops accepting; try again shortly instead of
        // leaving the server deaf for good.
        QObject::connect(listener, &QTcpServer::acceptError, listener, [listener](QAbstractSocket::SocketError) {
            qWarning("AsyncSocket: accept failed (%s); retrying", qPrintable(listener->errorString()));
            QTimer::singleShot(NetLimits::kAcceptRetryMs, listener, [listener] { listener->resumeAccepting(); });
        });
        return listener;
    };

    if (address4) {
        server4_ = makeListener();
        if (!server4_->listen(*address4, port))
            return failAccept(error, errorWithCode(CFSocketError));
    }
    if (address6) {
        quint16 port6 = port;
        if (port == 0 && server4_ != nullptr)
            port6 = server4_->serverPort();
        server6_ = makeListener();
        if (!server6_->listen(*address6, port6)) {
            // A system without IPv6 serves IPv4 alone; any other failure is fatal.
            bool noIPv6 = server6_->serverError() == QAbstractSocket::UnsupportedSocketOperationError;
            if (!noIPv6 || server4_ == nullptr)
                return failAccept(error, errorWithCode(CFSocketError));
            server6_->deleteLater();
            server6_ = nullptr;
        }
    }
    flags_ |= ConnectStarted;
    return true;
}

void AsyncSocket::attachSocket(QTcpSocket *socket)
{
    socket_ = socket;
    // Keep the platform from buffering without bound while nobody reads.
    socket->setReadBufferSize(NetLimits::kReadChunk);
    QObject::connect(socket, &QTcpSocket::readyRead, this, &AsyncSocket::serveRead);
    QObject::connect(socket, &QTcpSocket::bytesWritten, this, &AsyncSocket::onBytesWritten);
    QObject::connect(socket, &QTcpSocket::connected, this, [this] {
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        platformOpen_ = true;
        rememberAddresses();
        openCompleted();
    });
    // The end and errors are handled on a later pass, outside the platform's own
    // processing, with whatever the platform still buffers handed over first.
    QObject::connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        onPlatformError(int(e));
    });
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this] {
        onPlatformError(int(QAbstractSocket::RemoteHostClosedError));
    });
}

void AsyncSocket::rememberAddresses()
{
    if (socket_ == nullptr)
        return;
    localAddress_ = socket_->localAddress();
    localPort_ = socket_->localPort();
    peerAddress_ = socket_->peerAddress();
    peerPort_ = socket_->peerPort();
}

void AsyncSocket::acceptNative(qintptr descriptor)
{
    if (delegate_ == nullptr) {
        ::close(int(descriptor));
        return;
    }
    AsyncSocketPtr accepted(new AsyncSocket(delegate_));
    auto *platform = new QTcpSocket(accepted.get());
    if (!platform->setSocketDescriptor(descriptor)) {
        qWarning("AsyncSocket %p couldn't create streams from accepted socket: %s", static_cast<void *>(this),
                 qPrintable(platform->errorString()));
        ::close(int(descriptor));
        return;
    }
    accepted->attachSocket(platform);
    // Replies go out as separate small writes: without this, each second reply waits for
    // the peer's delayed acknowledgement of the first.
    platform->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    accepted->platformOpen_ = true;
    accepted->rememberAddresses();
    QPointer<AsyncSocket> weak(accepted.get());
    delegate_->onSocketDidAcceptNewSocket(this, std::move(accepted));
    if (weak && weak->socket_ != nullptr)
        weak->startAccepted();
}

void AsyncSocket::startAccepted()
{
    QPointer<AsyncSocket> self(this);
    if (delegate_ != nullptr && !delegate_->onSocketWillConnect(this)) {
        if (self)
            close();
        return;
    }
    if (!self || socket_ == nullptr)
        return;
    flags_ |= ConnectStarted;
    defer(&AsyncSocket::openCompleted);
}

bool AsyncSocket::connectToHost(const QString &host, quint16 port, AsyncSocketError *error)
{
    checkIdle("connect");
    attachSocket(new QTcpSocket(this));
    QPointer<AsyncSocket> self(this);
    if (delegate_ != nullptr && !delegate_->onSocketWillConnect(this)) {
        if (self)
            close();
        if (error != nullptr)
            *error = errorWithCode(CanceledError);
        return false;
    }
    if (!self || socket_ == nullptr)
        return false;
    socket_->connectToHost(host, port);
    flags_ |= ConnectStarted;
    return true;
}

void AsyncSocket::openCompleted()
{
    if (socket_ == nullptr || !platformOpen_ || (flags_ & ConnectReported))
        return;
    flags_ |= ConnectReported;
    QPointer<AsyncSocket> self(this);
    if (delegate_ != nullptr)
        delegate_->onSocketDidConnectToHost(this, connectedHost(), connectedPort());
    if (!self || socket_ == nullptr)
        return;
    dequeueRead();
    if (!self || socket_ == nullptr)
        return;
    dequeueWrite();
}

// ---- deferred steps

void AsyncSocket::defer(void (AsyncSocket::*step)())
{
    quint64 generation = generation_;
    QMetaObject::invokeMethod(
        this, [this, generation, step] {
            if (generation == generation_)
                (this->*step)();
        },
        Qt::QueuedConnection);
}

void AsyncSocket::scheduleDequeueRead()
{
    if (dequeueReadPosted_)
        return;
    dequeueReadPosted_ = true;
    defer(&AsyncSocket::dequeueRead);
}

void AsyncSocket::scheduleDequeueWrite()
{
    if (dequeueWritePosted_)
        return;
    dequeueWritePosted_ = true;
    defer(&AsyncSocket::dequeueWrite);
}

// ---- reading

void AsyncSocket::readDataWithTimeout(double timeout, int tag)
{
    if (flags_ & NoMoreIO)
        return;
    ReadPacket packet;
    packet.timeout = timeout;
    packet.tag = tag;
    packet.readAllAvailableData = true;
    // Streaming reads never complete, so a request behind the current one could only wait
    // for the close: drop it now rather than let a long session pile them up.
    queueRead(std::move(packet));
}

void AsyncSocket::queueRead(ReadPacket packet)
{
    if (currentRead_ != nullptr || !readQueue_.empty())
        return;   // nothing to start: no deferred step either
    readQueue_.push_back(std::move(packet));
    scheduleDequeueRead();
}

void AsyncSocket::readDataToData(const QByteArray &terminator, double timeout, int tag)
{
    readDataToData(terminator, timeout, -1, tag);
}

void AsyncSocket::readDataToData(const QByteArray &terminator, double timeout, qint32 maxLength, int tag)
{
    if (terminator.isEmpty() || (maxLength >= 0 && maxLength < terminator.size()) || (flags_ & NoMoreIO))
        return;
    ReadPacket packet;
    packet.timeout = timeout;
    packet.maxLength = maxLength;
    packet.tag = tag;
    packet.term = terminator;
    queueRead(std::move(packet));
}

void AsyncSocket::dequeueRead()
{
    dequeueReadPosted_ = false;
    if (currentRead_ != nullptr || readQueue_.empty() || socket_ == nullptr)
        return;
    currentRead_ = std::make_unique<ReadPacket>(std::move(readQueue_.front()));
    readQueue_.pop_front();
    if (currentRead_->timeout >= 0) {
        if (readTimer_ == nullptr) {
            readTimer_ = new QTimer(this);
            readTimer_->setSingleShot(true);
            QObject::connect(readTimer_, &QTimer::timeout, this, &AsyncSocket::readTimedOut);
        }
        readTimer_->start(int(currentRead_->timeout * 1000.0));
    }
    serveRead();
}

void AsyncSocket::setReadPaused(bool paused)
{
    if (paused == readPaused_)
        return;
    readPaused_ = paused;
    if (!paused)
        defer(&AsyncSocket::serveRead);
}

void AsyncSocket::serveRead()
{
    if (currentRead_ == nullptr || socket_ == nullptr || !(flags_ & ConnectReported))
        return;
    QPointer<AsyncSocket> self(this);
    while (socket_ != nullptr && currentRead_ != nullptr && (!readPaused_ || streamEnded_) && socket_->bytesAvailable() > 0) {
        QByteArray chunk = socket_->read(NetLimits::kReadChunk);
        if (chunk.isEmpty())
            break;
        if (delegate_ != nullptr)
            delegate_->onSocketDidReadData(this, chunk, currentRead_->tag);
        if (!self)
            return;
    }
}

void AsyncSocket::endCurrentRead()
{
    if (readTimer_ != nullptr)
        readTimer_->stop();
    currentRead_.reset();
}

void AsyncSocket::readTimedOut()
{
    endCurrentRead();
    closeWithError(errorWithCode(ReadTimeoutError));
}

// ---- writing

void AsyncSocket::writeData(const QByteArray &data, double timeout, int tag)
{
    if (data.isEmpty() || (flags_ & NoMoreIO))
        return;
    writeQueue_.push_back({data, 0, tag, timeout});
    queuedBytes_ += data.size();
    scheduleDequeueWrite();
}

void AsyncSocket::dequeueWrite()
{
    dequeueWritePosted_ = false;
    if (currentWrite_ != nullptr || writeQueue_.empty() || socket_ == nullptr || !(flags_ & ConnectReported))
        return;
    currentWrite_ = std::make_unique<WritePacket>(std::move(writeQueue_.front()));
    writeQueue_.pop_front();
    if (currentWrite_->timeout >= 0) {
        if (writeTimer_ == nullptr) {
            writeTimer_ = new QTimer(this);
            writeTimer_->setSingleShot(true);
            QObject::connect(writeTimer_, &QTimer::timeout, this, &AsyncSocket::writeTimedOut);
        }
        writeTimer_->start(int(currentWrite_->timeout * 1000.0));
    }
    sendBytes();
}

void AsyncSocket::sendBytes()
{
    if (currentWrite_ == nullptr || socket_ == nullptr || sending_)
        return;
    sending_ = true;
    WritePacket &w = *currentWrite_;
    const qint64 size = w.buffer.size();
    bool failed = false;
    while (w.bytesDone < size && socket_->bytesToWrite() < NetLimits::kWriteWatermark) {
        qint64 n = socket_->write(w.buffer.constData() + w.bytesDone, qMin<qint64>(NetLimits::kWriteSlice, size - w.bytesDone));
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0)
            break;
        w.bytesDone += n;
        queuedBytes_ -= n;
    }
    sending_ = false;
    if (failed) {
        closeWithError(platformError(int(socket_->error())));
        return;
    }
    if (w.bytesDone == size && socket_->bytesToWrite() == 0)
        completeCurrentWrite();
}

void AsyncSocket::onBytesWritten()
{
    if (currentWrite_ == nullptr || socket_ == nullptr || sending_)
        return;
    if (currentWrite_->bytesDone == currentWrite_->buffer.size()) {
        if (socket_->bytesToWrite() == 0)
            completeCurrentWrite();
    } else {
        sendBytes();
    }
}

void AsyncSocket::completeCurrentWrite()
{
    int tag = currentWrite_->tag;
    QPointer<AsyncSocket> self(this);
    if (delegate_ != nullptr)
        delegate_->onSocketDidWriteData(this, tag);
    if (!self || socket_ == nullptr)
        return;
    endCurrentWrite();
    if ((flags_ & DisconnectPending) && writeQueue_.empty())
        defer(&AsyncSocket::disconnect);
    else
        scheduleDequeueWrite();
}

void AsyncSocket::endCurrentWrite()
{
    if (writeTimer_ != nullptr)
        writeTimer_->stop();
    if (currentWrite_ != nullptr)
        queuedBytes_ -= currentWrite_->buffer.size() - currentWrite_->bytesDone;
    currentWrite_.reset();
}

void AsyncSocket::writeTimedOut()
{
    endCurrentWrite();
    closeWithError(errorWithCode(WriteTimeoutError));
}

qint64 AsyncSocket::queuedWriteBytes() const
{
    return queuedBytes_ + (socket_ != nullptr ? socket_->bytesToWrite() : 0);
}

// ---- ending

void AsyncSocket::disconnectAfterWriting()
{
    flags_ |= NoMoreIO | DisconnectPending;
    if (currentWrite_ == nullptr && writeQueue_.empty())
        defer(&AsyncSocket::disconnect);
}

void AsyncSocket::disconnect()
{
    close();
}

void AsyncSocket::onPlatformError(int socketError)
{
    if (platformErrorPending_ || socket_ == nullptr)
        return;
    platformErrorPending_ = true;
    platformError_ = socketError;
    defer(&AsyncSocket::handlePlatformError);
}

void AsyncSocket::handlePlatformError()
{
    platformErrorPending_ = false;
    if (socket_ == nullptr)
        return;
    if (platformError_ == int(QAbstractSocket::RemoteHostClosedError))
        readStreamEnded();
    else
        closeWithError(platformError(platformError_));
}

void AsyncSocket::readStreamEnded()
{
    QPointer<AsyncSocket> self(this);
    // Report the open and hand over what arrived before the end, in that order.
    streamEnded_ = true;
    openCompleted();
    if (!self || socket_ == nullptr)
        return;
    if (currentRead_ == nullptr && !readQueue_.empty())
        dequeueRead();
    else
        serveRead();
    if (!self || socket_ == nullptr)
        return;
    bool end = delegate_ == nullptr || delegate_->onReadStreamEnded(this);
    if (!self || socket_ == nullptr)
        return;
    if (end)
        closeWithError(AsyncSocketError());
    else
        close();   // the platform has closed both directions already
}

void AsyncSocket::closeWithError(const AsyncSocketError &error)
{
    flags_ |= ClosingWithError;
    if (flags_ & ConnectStarted) {
        readQueue_.clear();
        writeQueue_.clear();
        QPointer<AsyncSocket> self(this);
        if (delegate_ != nullptr)
            delegate_->onSocketWillDisconnectWithError(this, error);
        if (!self)
            return;
    }
    close();
}

int AsyncSocket::takeDescriptor()
{
    if (socket_ == nullptr || !(flags_ & ConnectReported) || socket_->state() != QAbstractSocket::ConnectedState ||
        socket_->bytesAvailable() > 0 || queuedWriteBytes() > 0 || currentWrite_ != nullptr)
        return -1;
    int fd = fcntl(int(socket_->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // The platform socket closes only its own descriptor; the copy keeps the connection.
    flags_ &= ~ConnectStarted;
    close();
    return fd;
}

void AsyncSocket::close()
{
    if (socket_ == nullptr && server4_ == nullptr && server6_ == nullptr && flags_ == 0 &&
        currentRead_ == nullptr && currentWrite_ == nullptr && readQueue_.empty() && writeQueue_.empty())
        return;
    endCurrentRead();
    endCurrentWrite();
    readQueue_.clear();
    writeQueue_.clear();
    queuedBytes_ = 0;
    ++generation_;   // lapses pending dequeues and a pending disconnect
    dequeueReadPosted_ = dequeueWritePosted_ = false;
    platformErrorPending_ = false;
    platformOpen_ = false;
    if (socket_ != nullptr) {
        QObject::disconnect(socket_, nullptr, this, nullptr);
        socket_->abort();
        socket_->deleteLater();   // we may be inside one of its signals
        socket_ = nullptr;
    }
    for (QTcpServer **server : {&server4_, &server6_}) {
        if (*server != nullptr) {
            (*server)->close();
            (*server)->deleteLater();
            *server = nullptr;
        }
    }
    localAddress_.clear();
    peerAddress_.clear();
    localPort_ = peerPort_ = 0;
    bool started = flags_ & ConnectStarted;
    flags_ = 0;
    readPaused_ = streamEnded_ = false;
    if (started && delegate_ != nullptr) {
        quint64 generation = generation_;
        QMetaObject::invokeMethod(
            this, [this, generation] {
                if (generation == generation_ && delegate_ != nullptr)
                    delegate_->onSocketDidDisconnect(this);
            },
            Qt::QueuedConnection);
    }
}

AsyncSocketError AsyncSocket::platformError(int socketError) const
{
    QString text = socket_ != nullptr ? socket_->errorString() : QString();
    switch (QAbstractSocket::SocketError(socketError)) {
    case QAbstractSocket::RemoteHostClosedError:
        return AsyncSocketError();
    case QAbstractSocket::ConnectionRefusedError:
        return {posixDomain(), ECONNREFUSED, text};
    case QAbstractSocket::HostNotFoundError:
        return {QStringLiteral("kCFStreamErrorDomainNetDB"), EAI_NONAME, QString::fromLocal8Bit(gai_strerror(EAI_NONAME))};
    case QAbstractSocket::SocketTimeoutError:
        return {posixDomain(), ETIMEDOUT, text};
    case QAbstractSocket::SocketAccessError:
        return {posixDomain(), EACCES, text};
    case QAbstractSocket::SocketResourceError:
        return {posixDomain(), EMFILE, text};
    case QAbstractSocket::AddressInUseError:
        return {posixDomain(), EADDRINUSE, text};
    case QAbstractSocket::SocketAddressNotAvailableError:
        return {posixDomain(), EADDRNOTAVAIL, text};
    case QAbstractSocket::NetworkError:
        return {posixDomain(), ENETUNREACH, text};
    default:
        return {QStringLiteral("CFStreamError (unlisted domain)"), socketError, text};
    }
}

// ---- queries

bool AsyncSocket::isConnected() const
{
    return socket_ != nullptr && socket_->state() == QAbstractSocket::ConnectedState;
}

bool AsyncSocket::isListening() const
{
    return server4_ != nullptr || server6_ != nullptr;
}

bool AsyncSocket::isIPv4() const
{
    if (server4_ != nullptr)
        return true;
    return server6_ == nullptr && socket_ != nullptr && plainAddress(peerAddress_).protocol() == QAbstractSocket::IPv4Protocol;
}

bool AsyncSocket::isIPv6() const
{
    if (server6_ != nullptr)
        return true;
    return server4_ == nullptr && socket_ != nullptr && plainAddress(peerAddress_).protocol() == QAbstractSocket::IPv6Protocol;
}

QHostAddress AsyncSocket::localAddress() const
{
    if (server4_ != nullptr)
        return server4_->serverAddress();
    if (server6_ != nullptr)
        return server6_->serverAddress();
    return socket_ != nullptr ? localAddress_ : QHostAddress();
}

QHostAddress AsyncSocket::connectedAddress() const
{
    return socket_ != nullptr ? peerAddress_ : QHostAddress();
}

QString AsyncSocket::localHost() const
{
    QHostAddress a = localAddress();
    return a.isNull() ? QString() : a.toString();
}

quint16 AsyncSocket::localPort() const
{
    if (server4_ != nullptr)
        return server4_->serverPort();
    if (server6_ != nullptr)
        return server6_->serverPort();
    return socket_ != nullptr ? localPort_ : 0;
}

QString AsyncSocket::connectedHost() const
{
    QHostAddress a = connectedAddress();
    return a.isNull() ? QString() : a.toString();
}

quint16 AsyncSocket::connectedPort() const
{
    return socket_ != nullptr ? peerPort_ : 0;
}

qintptr AsyncSocket::socketDescriptor() const
{
    if (server4_ != nullptr)
        return server4_->socketDescriptor();
    if (server6_ != nullptr)
        return server6_->socketDescriptor();
    return socket_ != nullptr ? socket_->socketDescriptor() : -1;
}

QString AsyncSocket::addressHost(const struct sockaddr *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    const void *raw = nullptr;
    if (address != nullptr && address->sa_family == AF_INET)
        raw = &reinterpret_cast<const struct sockaddr_in *>(address)->sin_addr;
    else if (address != nullptr && address->sa_family == AF_INET6)
        raw = &reinterpret_cast<const struct sockaddr_in6 *>(address)->sin6_addr;
    if (raw == nullptr || inet_ntop(address->sa_family, raw, text, sizeof text) == nullptr)
        throw std::logic_error("Cannot convert address to string.");
    return QString::fromLatin1(text);
}

quint16 AsyncSocket::addressPort(const struct sockaddr *address)
{
    if (address == nullptr)
        return 0;
    if (address->sa_family == AF_INET)
        return ntohs(reinterpret_cast<const struct sockaddr_in *>(address)->sin_port);
    if (address->sa_family == AF_INET6)
        return ntohs(reinterpret_cast<const struct sockaddr_in6 *>(address)->sin6_port);
    return 0;
}

QString AsyncSocket::description() const
{
    auto end = [](const QHostAddress &a, quint16 port) {
        if (a.isNull())
            return QStringLiteral("nowhere");
        return QStringLiteral("%1 %2").arg(a.toString()).arg(port);
    };
    QString text = QString::asprintf("<AsyncSocket %p", static_cast<const void *>(this));
    text += QStringLiteral(" local %1 remote %2 ").arg(end(localAddress(), localPort()), end(connectedAddress(), connectedPort()));
    text += QStringLiteral("has queued %1 reads %2 writes, ").arg(readQueue_.size()).arg(writeQueue_.size());
    if (currentRead_ == nullptr)
        text += QStringLiteral("no current read, ");
    else
        text += QStringLiteral("currently read %1 bytes (0% done), ").arg(currentRead_->bytesDone);
    if (currentWrite_ == nullptr) {
        text += QStringLiteral("no current write, ");
    } else {
        qint64 size = currentWrite_->buffer.size();
        int percent = size > 0 ? int(currentWrite_->bytesDone * 100 / size) : 100;
        text += QStringLiteral("currently written %1 (%2%), ").arg(currentWrite_->bytesDone).arg(percent);
    }
    const char *status = "not open";
    if (socket_ != nullptr) {
        switch (socket_->state()) {
        case QAbstractSocket::HostLookupState:
        case QAbstractSocket::ConnectingState: status = "opening"; break;
        case QAbstractSocket::ConnectedState: status = "open"; break;
        case QAbstractSocket::ClosingState: status = "closed"; break;
        default: status = socket_->error() == QAbstractSocket::UnknownSocketError ? "not open" : "has error"; break;
        }
    }
    text += QString::asprintf("read stream %p %s, write stream %p %s", static_cast<const void *>(socket_), status,
                              static_cast<const void *>(socket_), status);
    if (flags_ & DisconnectPending)
        text += QStringLiteral(", will disconnect soon");
    if (!isConnected())
        text += QStringLiteral(", not connected");
    return text + QStringLiteral(">");
}
