// AsyncSocket: the one TCP endpoint type of the file-transfer subsystem. A listening
// socket (IPv4 and IPv6 on one port) or one connection, driven by the main event loop;
// every readiness event becomes a call on the delegate.
//
// Reads stream: a read request, once current, never completes; every chunk that arrives
// while it is current (at most NetLimits::kReadChunk bytes) goes to the delegate under its
// tag. A read requested while another is current is dropped.
//
// Writes queue: each request is fed to the platform socket in slices of at most
// NetLimits::kWriteSlice bytes while the platform's buffer stays under
// NetLimits::kWriteWatermark, and continues as the platform reports bytes written; a large
// block is never copied whole. A write counts as done (onSocketDidWriteData) when its last
// byte has left the platform's buffer for the kernel, so closing right after it loses
// nothing.
//
// Delegate calls come from the event loop only, never from inside a request call
// (writeData, readData…, disconnectAfterWriting); onSocketDidDisconnect always arrives on a
// later pass than the close that caused it, and only for sockets whose listening or
// connection had started.
//
// Ownership: the delegate owns its sockets (AsyncSocketPtr); a socket never owns its
// delegate. Dropping an AsyncSocketPtr clears the delegate, closes the socket and deletes
// it on a later pass, so an owner may drop a socket inside any of its callbacks.
//
// Platform: Qt's QTcpServer / QTcpSocket on the calling thread's event loop. The platform
// closes both directions when the peer ends its sending side, so a half-closed connection
// ends here too: onReadStreamEnded answering false then only skips
// onSocketWillDisconnectWithError.
//
// Programming errors (accepting or connecting without a delegate or while already in use;
// an address that cannot be written as text) throw; run-time failures never do.
#pragma once

#include <deque>
#include <memory>
#include <stdexcept>

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QTimer;
struct sockaddr;

struct AsyncSocketError {
    QString domain;        // empty for "no error"
    qint64 code = 0;
    QString description;
    bool isNull() const { return domain.isEmpty(); }
};

// An IPv4-mapped IPv6 address as the plain IPv4 address; any other address unchanged.
// Dual-stack listeners report IPv4 peers in the mapped form.
QHostAddress plainAddress(const QHostAddress &address);

class AsyncSocketException : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class AsyncSocket;

struct AsyncSocketDeleter {
    void operator()(AsyncSocket *socket) const;
};
using AsyncSocketPtr = std::unique_ptr<AsyncSocket, AsyncSocketDeleter>;

// Every operation is optional: the defaults are what happens when a delegate does not
// implement it.
class AsyncSocketDelegate {
public:
    virtual ~AsyncSocketDelegate() = default;
    // To the listener's delegate. The new socket already carries this delegate (which the
    // callee may replace); keep the pointer to keep the connection, let it go to refuse it.
    virtual void onSocketDidAcceptNewSocket(AsyncSocket *listener, AsyncSocketPtr newSocket);
    // False aborts the connection ("Connection canceled" for an outgoing one).
    virtual bool onSocketWillConnect(AsyncSocket *) { return true; }
    virtual void onSocketDidConnectToHost(AsyncSocket *, const QString &host, quint16 port);
    virtual void onSocketDidReadData(AsyncSocket *, const QByteArray &data, int tag);
    virtual void onSocketDidWriteData(AsyncSocket *, int tag);
    // The peer ended its side; true treats it as the end of the connection.
    virtual bool onReadStreamEnded(AsyncSocket *) { return true; }
    // Before a close caused by an error or by the end of the incoming stream (error null).
    virtual void onSocketWillDisconnectWithError(AsyncSocket *, const AsyncSocketError &error);
    virtual void onSocketDidDisconnect(AsyncSocket *);
};

class AsyncSocket : public QObject {
    Q_OBJECT

public:
    static constexpr const char *kErrorDomain = "AsyncSocketErrorDomain";
    enum ErrorCode {
        CFSocketError = -1,
        CanceledError = 1,
        ReadMaxedOutError = 2,
        ReadTimeoutError = 3,
        WriteTimeoutError = 4,
    };

    explicit AsyncSocket(AsyncSocketDelegate *delegate = nullptr, qint32 userData = 0);
    ~AsyncSocket() override;
    static AsyncSocketPtr create(AsyncSocketDelegate *delegate, qint32 userData = 0);

    AsyncSocketDelegate *delegate() const { return delegate_; }
    void setDelegate(AsyncSocketDelegate *delegate) { delegate_ = delegate; }
    qint32 userData() const { return userData_; }
    void setUserData(qint32 value) { userData_ = value; }

    // Listening. An empty address means every interface (IPv4 and IPv6); "localhost" or
    // "loopback" the loopback addresses; anything else is resolved. Port 0 lets the system
    // choose, and IPv6 then gets the port IPv4 got.
    bool acceptOnPort(quint16 port, AsyncSocketError *error = nullptr);
    bool acceptOnAddress(const QString &address, quint16 port, AsyncSocketError *error = nullptr);
    bool connectToHost(const QString &host, quint16 port, AsyncSocketError *error = nullptr);

    // Timeouts in seconds, negative for none.
    void readDataWithTimeout(double timeout, int tag);
    void readDataToData(const QByteArray &terminator, double timeout, int tag);
    void readDataToData(const QByteArray &terminator, double timeout, qint32 maxLength, int tag);
    void writeData(const QByteArray &data, double timeout, int tag);
    // While paused, arriving bytes wait in the platform's buffer (at most
    // NetLimits::kReadChunk, then in the kernel's, which slows the peer) instead of going to
    // the delegate. The end of the connection still hands over everything first.
    void setReadPaused(bool paused);
    bool readPaused() const { return readPaused_; }
    void disconnect();               // close now
    void disconnectAfterWriting();   // refuse further requests, close once every write is out

    bool isConnected() const;
    bool isIPv4() const;
    bool isIPv6() const;
    bool isListening() const;
    QString localHost() const;       // "" when there is no handle or address
    quint16 localPort() const;
    QString connectedHost() const;
    quint16 connectedPort() const;
    QHostAddress localAddress() const;
    QHostAddress connectedAddress() const;
    qintptr socketDescriptor() const;   // -1 without a handle
    // Hands the connection over to the caller, who reads and writes its descriptor (the
    // result) from then on and closes it. The socket lets go without ending the connection
    // and is closed as far as its delegate knows: no further calls, no
    // onSocketDidDisconnect. Only for an open connection with nothing waiting in either
    // direction; -1 (and nothing changed) otherwise.
    int takeDescriptor();
    // Bytes of write requests not yet handed to the kernel.
    qint64 queuedWriteBytes() const;
    QString description() const;

    static QString addressHost(const struct sockaddr *address);
    static quint16 addressPort(const struct sockaddr *address);
    static AsyncSocketError errorWithCode(ErrorCode code);

    static const QByteArray &ZeroData();
    static const QByteArray &LFData();
    static const QByteArray &CRData();
    static const QByteArray &CRLFData();

private:
    struct ReadPacket {
        QByteArray buffer;
        quint32 bytesDone = 0;
        double timeout = -1;
        qint32 maxLength = -1;
        int tag = 0;
        QByteArray term;
        bool readAllAvailableData = false;
    };
    struct WritePacket {
        QByteArray buffer;
        qint64 bytesDone = 0;
        int tag = 0;
        double timeout = -1;
    };
    enum Flag : quint8 {
        ConnectReported = 0x02,
        ConnectStarted = 0x04,
        NoMoreIO = 0x08,
        DisconnectPending = 0x10,
        ClosingWithError = 0x20,
    };

    void checkIdle(const char *what) const;
    bool failAccept(AsyncSocketError *error, const AsyncSocketError &value);
    void attachSocket(QTcpSocket *socket);
    void rememberAddresses();
    void acceptNative(qintptr descriptor);
    void startAccepted();
    void openCompleted();
    void defer(void (AsyncSocket::*step)());
    void queueRead(ReadPacket packet);
    void scheduleDequeueRead();
    void scheduleDequeueWrite();
    void dequeueRead();
    void dequeueWrite();
    void serveRead();
    void sendBytes();
    void onBytesWritten();
    void completeCurrentWrite();
    void endCurrentRead();
    void endCurrentWrite();
    void readTimedOut();
    void writeTimedOut();
    void onPlatformError(int socketError);
    void handlePlatformError();
    void readStreamEnded();
    void closeWithError(const AsyncSocketError &error);
    void close();
    AsyncSocketError platformError(int socketError) const;

    qint32 userData_ = 0;
    AsyncSocketDelegate *delegate_ = nullptr;
    QTcpServer *server4_ = nullptr;
    QTcpServer *server6_ = nullptr;
    QTcpSocket *socket_ = nullptr;
    quint8 flags_ = 0;
    std::deque<ReadPacket> readQueue_;
    std::unique_ptr<ReadPacket> currentRead_;
    QTimer *readTimer_ = nullptr;
    std::deque<WritePacket> writeQueue_;
    std::unique_ptr<WritePacket> currentWrite_;
    QTimer *writeTimer_ = nullptr;
    bool dequeueReadPosted_ = false;
    bool dequeueWritePosted_ = false;
    qint64 queuedBytes_ = 0;          // of queued requests, not yet handed to the platform
    bool sending_ = false;
    bool readPaused_ = false;
    bool streamEnded_ = false;        // the peer has ended: everything left goes out, paused or not
    bool platformOpen_ = false;       // the platform connection was made (reported or not)
    bool platformErrorPending_ = false;
    int platformError_ = 0;
    QHostAddress localAddress_, peerAddress_;
    quint16 localPort_ = 0, peerPort_ = 0;
    quint64 generation_ = 0;   // bumped by every close; deferred steps of older ones lapse
};
