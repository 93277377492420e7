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
    // Sends one block.
    void writeData(const QByteArray &block);
    // Closes the socket; nothing more is reported.
    void closeConnection();

    State connectionState() const { return connectionState_; }
    void setConnectionState(State state) { connectionState_ = state; }
    // The chunk being handed over, during didReceiveDataRead only.
    const QByteArray &receivedData() const { return receivedData_; }
    // The connection was made (an outgoing one may still be opening, or have failed).
    bool wasConnected() const { return connected_; }

    // Whether plain files go out by sendfile(2) (on by default; off sends every file by
    // reads, as on a system without it).
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
    bool connected_ = false;
    bool done_ = false;              // the end was reported, or closeConnection called
};
