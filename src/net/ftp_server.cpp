#include "net/ftp_server.h"

#include <csignal>
#include <cstdlib>

#include <QFile>

#include "net/ftp_listing.h"
#include "net/net_limits.h"

namespace {

void ignoreBrokenPipes()
{
    struct sigaction current = {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        signal(SIGPIPE, SIG_IGN);
}

} // namespace

FtpServer::FtpServer(quint16 port, const QString &dir, QObject *notifyObject, const QString &bindAddress,
                     QObject *parent)
    : QObject(parent), notificationObject_(notifyObject), portNumber_(port),
      idleTimeoutMs_(NetLimits::kIdleTimeoutMs), passiveTimeoutMs_(NetLimits::kPassiveAcceptTimeoutMs)
{
    commands_ = {
        {"quit", "doQuit:"}, {"syst", "doSyst:"}, {"retr", "doRetr:"},
        {"list", "doList:"}, {"pasv", "doPasv:"}, {"dele", "doDele:"},
        {"stat", "doStat:"}, {"epsv", "doEpsv:"}, {"mlst", "doMlst:"},
        {"feat", "doFeat:"}, {"port", "doPort:"}, {"size", "doSize:"},
        {"user", "doUser:"}, {"lprt", "doLprt:"}, {"mkd", "doMkdir:"},
        {"pass", "doPass:"}, {"eprt", "doEprt:"}, {"cdup", "doCdUp:"},
        {"pwd", "doPwd:"},   {"opts", "doOpts:"}, {"rmd", "doDele:"},
        {"cwd", "doCwd:"},   {"type", "doType:"}, {"rnfr", "doRnfr:"},
        {"noop", "doNoop:"}, {"stor", "doStor:"}, {"rnto", "doRnto:"},
        // Resuming transfers.
        {"rest", "doRest:"}, {"appe", "doAppe:"}, {"abor", "doAbor:"},
    };
    ignoreBrokenPipes();

    listenSocket_ = AsyncSocket::create(this);
    AsyncSocketError error;
    if (!listenSocket_->acceptOnAddress(bindAddress, port, &error))
        qWarning("FTP: cannot listen on port %u: %s", unsigned(port), qPrintable(error.description));

    // Canonical, so that the folder shown and the folder served are the same.
    char *real = realpath(QFile::encodeName(dir).constData(), nullptr);
    baseDir_ = real != nullptr ? QFile::decodeName(real) : dir;
    free(real);
    baseRoot_ = std::make_unique<FtpRoot>(baseDir_);
    if (!baseRoot_->isOpen())
        qWarning("FTP: cannot open the folder %s", qPrintable(baseDir_));
}

FtpServer::~FtpServer()
{
    stopFtpServer();
}

bool FtpServer::isListening() const
{
    return listenSocket_ != nullptr && listenSocket_->isListening();
}

quint16 FtpServer::listeningPort() const
{
    return isListening() ? listenSocket_->localPort() : 0;
}

const FtpRoot &FtpServer::root() const
{
    if (changeRoot_)
        return *baseRoot_;
    if (systemRoot_ == nullptr)
        systemRoot_ = std::make_unique<FtpRoot>(QStringLiteral("/"));
    return *systemRoot_;
}

QList<QByteArray> FtpServer::startDirectory() const
{
    if (changeRoot_)
        return {};
    QList<QByteArray> names = QFile::encodeName(baseDir_).split('/');
    names.removeAll(QByteArray());
    return names;
}

bool FtpServer::isOwnPort(quint16 port) const
{
    if (port == listeningPort())
        return true;
    for (const auto &connection : connections_)
        if (connection->passiveListenerPort() == port)
            return true;
    return false;
}

void FtpServer::stopFtpServer()
{
    listenSocket_.reset();
    refused_.clear();
    for (auto &connection : connections_)
        connection->shutDown();
    connections_.clear();
}

void FtpServer::closeConnection(FtpConnection *connection)
{
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->get() == connection) {
            (*it)->shutDown();
            connections_.erase(it);
            return;
        }
    }
}

void FtpServer::didReceiveFileListChanged()
{
    emit fileListChanged();
    QObject *target = notificationObject_;
    if (target != nullptr && target->metaObject()->indexOfMethod("didReceiveFileListChanged()") >= 0)
        QMetaObject::invokeMethod(target, "didReceiveFileListChanged", Qt::DirectConnection);
}

QString FtpServer::createList(const QString &dir) const
{
    return FtpListing::createList(dir);
}

int FtpServer::connectionsFrom(const QHostAddress &address) const
{
    int count = 0;
    for (const auto &connection : connections_)
        if (connection->peerAddress().isEqual(address))
            count++;
    return count;
}

void FtpServer::onSocketDidAcceptNewSocket(AsyncSocket *, AsyncSocketPtr newSocket)
{
    if (int(connections_.size()) >= NetLimits::kMaxControlConnections) {
        qWarning("FTP: %d connections already; refusing %s", NetLimits::kMaxControlConnections,
                 qPrintable(newSocket->connectedHost()));
        return refuse(std::move(newSocket), QStringLiteral("421 Too many connections."));
    }
    QHostAddress peer = plainAddress(newSocket->connectedAddress());
    if (connectionsFrom(peer) >= NetLimits::kMaxConnectionsPerAddress) {
        qWarning("FTP: %d connections from %s already; refusing another", NetLimits::kMaxConnectionsPerAddress,
                 qPrintable(peer.toString()));
        return refuse(std::move(newSocket), QStringLiteral("421 Too many connections from your address."));
    }
    connections_.emplace_back(new FtpConnection(std::move(newSocket), this));
}

// The client hears why before the connection closes. Refusals waiting for their reply
// to go out are bounded too: beyond that, a refused connection just closes.
void FtpServer::refuse(AsyncSocketPtr socket, const QString &reply)
{
    if (int(refused_.size()) >= NetLimits::kMaxConnectionsPerAddress)
        return;   // dropping the socket closes it
    socket->writeData((reply + QStringLiteral("\r\n")).toUtf8(), -1, 0);
    socket->disconnectAfterWriting();
    refused_.push_back(std::move(socket));
}

void FtpServer::onSocketDidDisconnect(AsyncSocket *socket)
{
    for (auto it = refused_.begin(); it != refused_.end(); ++it) {
        if (it->get() == socket) {
            refused_.erase(it);
            return;
        }
    }
}
