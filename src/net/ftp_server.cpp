#include "net/ftp_server.h"

#include <cstdlib>

#include <QFile>

#include "net/ftp_listing.h"
#include "net/net_limits.h"

FtpServer::FtpServer(quint16 port, const QString &dir, QObject *notifyObject, const QString &bindAddress,
                     QObject *parent)
    : QObject(parent), notificationObject_(notifyObject), portNumber_(port)
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
    };

    listenSocket_ = AsyncSocket::create(this);
    AsyncSocketError error;
    if (!listenSocket_->acceptOnAddress(bindAddress, port, &error))
        qWarning("FTP: cannot listen on port %u: %s", unsigned(port), qPrintable(error.description));

    // Canonical, so that confinement compares like with like.
    char *real = realpath(QFile::encodeName(dir).constData(), nullptr);
    baseDir_ = real != nullptr ? QFile::decodeName(real) : dir;
    free(real);
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

void FtpServer::stopFtpServer()
{
    listenSocket_.reset();
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

void FtpServer::onSocketDidAcceptNewSocket(AsyncSocket *, AsyncSocketPtr newSocket)
{
    if (int(connections_.size()) >= NetLimits::kMaxControlConnections) {
        qWarning("FTP: %d connections already; refusing %s", NetLimits::kMaxControlConnections,
                 qPrintable(newSocket->connectedHost()));
        return;   // dropping the socket closes it
    }
    connections_.emplace_back(new FtpConnection(std::move(newSocket), this));
}
