// FtpDataConnection: one data connection of an FTP control connection. It carries one
// transfer: a source sent to the client (a block, a listing, a file), or an upload
// received from it, and reports to its control connection, which answers on the control
// channel.
#pragma once

#include <memory>

#include <QByteArray>
#include <QObject>

#include "net/async_socket.h"
#include "net/ftp_data_source.h"

class FtpConnection;
class QSocketNotifier;

class FtpDataConnection : public QObject, public AsyncSocketDelegate {
    Q_OBJECT

public:
    enum State {
        AwaitingUpload = 0,   // STOR succeeded: the end of the stream finishes the upload
        Sending = 1,
        Idle = 2,
        Receiving = 3,        // bytes arrived: the end of the stream finishes the upload
    };

    // Takes the connected (or connecting) socket and becomes its delegate.
    FtpDataConnection(AsyncSocketPtr socket, FtpConnection *connection);
    ~FtpDataConnection() override;

    // Sends what the source gives, pulling pieces as the socket drains (a plain file goes
    // from the file to the socket by sendfile(2) while nothing else waits in the socket's
    // buffer). The control connection hears didReceiveDataWritten once the last byte is
    // out, didFailSending when the source cannot be read.
    void send(std::unique_ptr<FtpDataSource> source);
    // Receives an upload into `fileFd` (not owned). Once the connection is open and
    // nothing waits on it, the data connection takes the socket over and moves the bytes
    // into the file itself, without the platform's buffers in between; until then, or
    // where it cannot, each chunk goes to the control connection (didReceiveDataRead).
    // The end of the stream is reported by didFinishReading, a failed write by
    // didFailUpload.
    void receiveUpload(int fileFd);
    // Closes the socket; nothing more is reported.
    void closeConnection();

    State connectionState() const { return connectionState_; }
    void setConnectionState(State state) { connectionState_ = state; }
    // The chunk being handed over, during didReceiveDataRead only.
    const QByteArray &receivedData() const { return receivedData_; }
    // The connection was made (an outgoing one may still be opening, or have failed).
    bool wasConnected() const { return connected_; }

    // Whether plain files go out by sendfile(2) and uploads are taken straight from their
    // socket (on by default; off sends by reads and receives through the platform
    // socket, as where neither can be had).
    static void setZeroCopy(bool on);

private:
    bool onSocketWillConnect(AsyncSocket *socket) override;
    void onSocketDidConnectToHost(AsyncSocket *socket, const QString &host, quint16 port) override;
    void onSocketDidReadData(AsyncSocket *socket, const QByteArray &data, int tag) override;
    void onSocketDidWriteData(AsyncSocket *socket, int tag) override;
    bool onReadStreamEnded(AsyncSocket *socket) override;
    void onSocketWillDisconnectWithError(AsyncSocket *socket, const AsyncSocketError &error) override;
    void onSocketDidDisconnect(AsyncSocket *socket) override;

    void pump();
    bool sendFileDirect();
    void startDirectUpload();
    void receiveDirect();
    void releaseDirectUpload();
    bool writeToFile(const char *bytes, qint64 size);
    bool spliceToFile(qint64 size);
    void sourceEnded();
    void dropSource();
    void finished();

    AsyncSocketPtr dataSocket_;
    FtpConnection *ftpConnection_;   // not owned
    QByteArray receivedData_;
    State connectionState_ = Idle;
    std::unique_ptr<FtpDataSource> source_;
    bool sourceAtEnd_ = false;
    int piecesInFlight_ = 0;
    bool zeroCopy_ = true;
    int directFd_ = -1;              // the socket's descriptor, duplicated for sendfile
    QSocketNotifier *writable_ = nullptr;
    int uploadFd_ = -1;              // the file an upload goes to (not owned)
    int takenFd_ = -1;               // the socket, taken over for an upload
    QSocketNotifier *readable_ = nullptr;
    QByteArray uploadBuffer_;
    int pipe_[2] = {-1, -1};         // splice(2) moves an upload through it
    bool splicing_ = false;
    bool connected_ = false;
    bool done_ = false;              // the end was reported, or closeConnection called
};
