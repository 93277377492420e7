// FtpDataConnection: one data connection of an FTP control connection. It carries one
// transfer: a block (a listing) or a file sent to the client, or an upload received from
// it, and reports to its control connection, which answers on the control channel.
#pragma once

#include <QByteArray>
#include <QObject>

#include "net/async_socket.h"

class FtpConnection;

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

    // Sends one block; the control connection hears didReceiveDataWritten once its last
    // byte is out.
    void writeData(const QByteArray &block);
    // Sends a file from its current offset, read in chunks as the socket drains, and owns
    // the descriptor. A file that shrinks meanwhile ends the transfer at its new end; one
    // that cannot be read ends it with didFailSending.
    void sendFile(int fd);
    // Closes the socket; nothing more is reported.
    void closeConnection();

    State connectionState() const { return connectionState_; }
    void setConnectionState(State state) { connectionState_ = state; }
    // The chunk being handed over, during didReceiveDataRead only.
    const QByteArray &receivedData() const { return receivedData_; }
    // The connection was made (an outgoing one may still be opening, or have failed).
    bool wasConnected() const { return connected_; }

private:
    bool onSocketWillConnect(AsyncSocket *socket) override;
    void onSocketDidConnectToHost(AsyncSocket *socket, const QString &host, quint16 port) override;
    void onSocketDidReadData(AsyncSocket *socket, const QByteArray &data, int tag) override;
    void onSocketDidWriteData(AsyncSocket *socket, int tag) override;
    bool onReadStreamEnded(AsyncSocket *socket) override;
    void onSocketWillDisconnectWithError(AsyncSocket *socket, const AsyncSocketError &error) override;
    void onSocketDidDisconnect(AsyncSocket *socket) override;

    void startFile();
    void queueFileChunk();
    void closeFile();
    void finished();

    AsyncSocketPtr dataSocket_;
    FtpConnection *ftpConnection_;   // not owned
    QByteArray receivedData_;
    State connectionState_ = Idle;
    int file_ = -1;
    bool fileAtEnd_ = false;
    int chunksInFlight_ = 0;
    bool connected_ = false;
    bool done_ = false;              // the close was reported, or closeConnection called
};
