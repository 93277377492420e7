#include <algorithm>
#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/async_socket.h"
#include "net/ftp_test_client.h"
#include "net/net_limits.h"
#include "support/test_support.h"

namespace {

// Records every delegate call; keeps accepted sockets reading under tag 7.
struct Recorder : AsyncSocketDelegate {
    std::vector<std::string> events;
    std::vector<AsyncSocketPtr> accepted;
    QByteArray received;
    std::vector<qsizetype> chunks;
    std::vector<int> readTags, writeTags;
    AsyncSocketError error;
    bool endAnswer = true;
    bool dropOnRead = false;

    void onSocketDidAcceptNewSocket(AsyncSocket *, AsyncSocketPtr socket) override
    {
        events.push_back("accept");
        socket->readDataWithTimeout(-1, 7);
        accepted.push_back(std::move(socket));
    }
    void onSocketDidConnectToHost(AsyncSocket *, const QString &, quint16) override { events.push_back("connect"); }
    void onSocketDidReadData(AsyncSocket *, const QByteArray &data, int tag) override
    {
        if (events.empty() || events.back() != "read")
            events.push_back("read");
        received += data;
        chunks.push_back(data.size());
        readTags.push_back(tag);
        if (dropOnRead)
            accepted.clear();
    }
    void onSocketDidWriteData(AsyncSocket *, int tag) override
    {
        events.push_back("write");
        writeTags.push_back(tag);
    }
    bool onReadStreamEnded(AsyncSocket *) override
    {
        events.push_back("end");
        return endAnswer;
    }
    void onSocketWillDisconnectWithError(AsyncSocket *, const AsyncSocketError &e) override
    {
        events.push_back("willDisconnect");
        error = e;
    }
    void onSocketDidDisconnect(AsyncSocket *) override { events.push_back("didDisconnect"); }
};

int connectedClient(AsyncSocket &listener, Recorder &r, const std::string &host = "127.0.0.1")
{
    auto connects = [&] { return std::count(r.events.begin(), r.events.end(), "connect"); };
    auto before = connects();
    int fd = ftptest::connectTcp(host, listener.localPort());
    EXPECT_GE(fd, 0);
    EXPECT_TRUE(lmtest::waitUntil([&] { return connects() > before; }, 5000));
    return fd;
}

TEST(AsyncSocket, ListensOnIPv4AndIPv6WithOnePortAndRejectsMisuse)
{
    lmtest::ensureApp();
    Recorder r;
    AsyncSocket listener(&r);
    AsyncSocketError error;
    ASSERT_TRUE(listener.acceptOnPort(0, &error)) << error.description.toStdString();
    quint16 port = listener.localPort();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(listener.isIPv4());

    int v4 = connectedClient(listener, r);
    EXPECT_EQ(r.accepted.size(), 1u);
    if (ftptest::haveIPv6Loopback()) {
        EXPECT_TRUE(listener.isIPv6());
        int v6 = connectedClient(listener, r, "::1");
        EXPECT_EQ(r.accepted.size(), 2u);
        EXPECT_EQ(r.accepted[1]->connectedHost(), "::1");
        close(v6);
    } else {
        GTEST_LOG_(INFO) << "no IPv6 loopback here; the IPv6 half is not checked";
    }
    EXPECT_EQ(r.accepted[0]->connectedHost(), "127.0.0.1");
    EXPECT_EQ(r.accepted[0]->localPort(), port);

    EXPECT_THROW(listener.acceptOnPort(0), AsyncSocketException);
    EXPECT_THROW(listener.connectToHost("127.0.0.1", port), AsyncSocketException);
    AsyncSocket orphan;
    EXPECT_THROW(orphan.acceptOnPort(0), AsyncSocketException);
    EXPECT_THROW(orphan.connectToHost("127.0.0.1", port), AsyncSocketException);

    // A port in use fails with the general error and leaves the socket idle.
    AsyncSocket second(&r);
    EXPECT_FALSE(second.acceptOnAddress("localhost", port, &error));
    EXPECT_EQ(error.domain, "AsyncSocketErrorDomain");
    EXPECT_EQ(error.code, -1);
    EXPECT_EQ(error.description, "General CFSocket error");
    EXPECT_FALSE(second.isListening());
    EXPECT_FALSE(second.acceptOnAddress("no-such-host.invalid", 0, &error));
    EXPECT_EQ(error.domain, "kCFStreamErrorDomainNetDB");
    close(v4);
}

TEST(AsyncSocket, StreamsChunksOfAtMostOneMebibyteUnderTheCurrentTag)
{
    lmtest::ensureApp();
    Recorder r;
    AsyncSocket listener(&r);
    ASSERT_TRUE(listener.acceptOnPort(0));
    int fd = connectedClient(listener, r);
    r.accepted[0]->readDataWithTimeout(-1, 9);   // waits behind the current read: no effect

    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = char(i * 7 + (i >> 12));
    ASSERT_TRUE(ftptest::writeAll(fd, data));
    ASSERT_TRUE(lmtest::waitUntil([&] { return r.received.size() == qsizetype(data.size()); }, 20000));
    EXPECT_EQ(r.received.toStdString(), data);
    for (qsizetype n : r.chunks)
        EXPECT_LE(n, NetLimits::kReadChunk);
    for (int tag : r.readTags)
        EXPECT_EQ(tag, 7);
    EXPECT_EQ(r.events, (std::vector<std::string>{"accept", "connect", "read"}));
    close(fd);
    ASSERT_TRUE(lmtest::waitUntil([&] { return r.events.back() == "didDisconnect"; }, 5000));
    EXPECT_EQ(r.events, (std::vector<std::string>{"accept", "connect", "read", "end", "willDisconnect", "didDisconnect"}));
    EXPECT_TRUE(r.error.isNull());
}

TEST(AsyncSocket, WritesInOrderThenDisconnectsAfterWritingOnALaterPass)
{
    lmtest::ensureApp();
    Recorder r;
    AsyncSocket listener(&r);
    ASSERT_TRUE(listener.acceptOnPort(0));
    int fd = connectedClient(listener, r);
    AsyncSocket *s = r.accepted[0].get();

    s->writeData(QByteArray(), -1, 1);   // nothing, and no report
    QByteArray big(5 * 1024 * 1024, 'b');
    s->writeData("first,", -1, 2);
    s->writeData(big, -1, 3);
    s->writeData(",last", -1, 4);
    s->disconnectAfterWriting();
    s->writeData("ignored", -1, 5);
    s->readDataWithTimeout(-1, 6);
    EXPECT_EQ(r.events.back(), "connect");   // nothing happens inside the calls

    std::string got = ftptest::readAll(fd);
    EXPECT_EQ(got, "first," + big.toStdString() + ",last");
    ASSERT_TRUE(lmtest::waitUntil([&] { return r.events.back() == "didDisconnect"; }, 5000));
    EXPECT_EQ(r.writeTags, (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(r.events, (std::vector<std::string>{"accept", "connect", "write", "write", "write", "didDisconnect"}));
    close(fd);
}

TEST(AsyncSocket, RefusedConnectionsEndInAnError)
{
    lmtest::ensureApp();
    // A port nobody listens on: bind one, close it.
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    getsockname(probe, reinterpret_cast<sockaddr *>(&a), &len);
    close(probe);

    Recorder r;
    AsyncSocket out(&r);
    EXPECT_TRUE(out.connectToHost("127.0.0.1", ntohs(a.sin_port)));
    ASSERT_TRUE(lmtest::waitUntil([&] { return !r.events.empty() && r.events.back() == "didDisconnect"; }, 5000));
    EXPECT_EQ(r.events, (std::vector<std::string>{"willDisconnect", "didDisconnect"}));
    EXPECT_EQ(r.error.domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(r.error.code, ECONNREFUSED);

    // Only sockets that had started hear of their close.
    AsyncSocket idle(&r);
    idle.disconnect();
    lmtest::spin(30);
    EXPECT_EQ(r.events.size(), 2u);
}

TEST(AsyncSocket, APeerEndingItsSideIsAskedAboutAndADelegateMayDropItsSocketInACallback)
{
    lmtest::ensureApp();
    Recorder r;
    r.endAnswer = false;
    AsyncSocket listener(&r);
    ASSERT_TRUE(listener.acceptOnPort(0));
    int fd = connectedClient(listener, r);
    ASSERT_TRUE(ftptest::writeAll(fd, "bye"));
    shutdown(fd, SHUT_WR);
    ASSERT_TRUE(lmtest::waitUntil([&] { return r.events.back() == "didDisconnect"; }, 5000));
    // The data came first; declining the end skips the error report.
    EXPECT_EQ(r.received, "bye");
    EXPECT_EQ(r.events, (std::vector<std::string>{"accept", "connect", "read", "end", "didDisconnect"}));
    close(fd);

    Recorder d;
    d.dropOnRead = true;
    AsyncSocket listener2(&d);
    ASSERT_TRUE(listener2.acceptOnPort(0));
    int fd2 = connectedClient(listener2, d);
    ASSERT_TRUE(ftptest::writeAll(fd2, "x"));
    ASSERT_TRUE(lmtest::waitUntil([&] { return d.accepted.empty(); }, 5000));
    EXPECT_EQ(ftptest::readAll(fd2, 5000), "");
    lmtest::spin(30);
    EXPECT_EQ(d.events.back(), "read");   // a dropped socket reports nothing more
    close(fd2);
}

TEST(AsyncSocket, HandsItsConnectionOverWithNothingWaiting)
{
    lmtest::ensureApp();
    Recorder r;
    AsyncSocket listener(&r);
    ASSERT_TRUE(listener.acceptOnAddress("localhost", 0));
    int peer = connectedClient(listener, r);
    ASSERT_EQ(r.accepted.size(), 1u);
    AsyncSocket &socket = *r.accepted.front();
    // Not while a write waits.
    socket.writeData("pending", -1, 1);
    EXPECT_EQ(socket.takeDescriptor(), -1);
    ASSERT_TRUE(lmtest::waitUntil([&] { return !r.writeTags.empty(); }, 5000));
    EXPECT_EQ(ftptest::readAll(peer, 200), "pending");

    const size_t eventsBefore = r.events.size();
    int fd = socket.takeDescriptor();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(socket.isConnected());
    // The connection lives on in the descriptor, both ways, and the delegate hears nothing.
    ASSERT_TRUE(ftptest::writeAll(peer, "to the new owner"));
    EXPECT_EQ(ftptest::readAll(fd, 200), "to the new owner");
    ASSERT_EQ(write(fd, "back", 4), 4);
    EXPECT_EQ(ftptest::readAll(peer, 200), "back");
    close(peer);
    EXPECT_EQ(ftptest::readAll(fd, 2000), "");   // the peer's end arrives there
    close(fd);
    lmtest::spin(50);
    EXPECT_EQ(r.events.size(), eventsBefore);
    EXPECT_EQ(socket.takeDescriptor(), -1);
}

} // namespace
