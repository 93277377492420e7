#include <QHostAddress>

#include "net/my_network_controller.h"
#include "support/test_support.h"

namespace {

using Interface = MyNetworkController::Interface;

TEST(MyNetworkController, PrefersTheWirelessInterfaceElseTheFirstUpNonLoopbackOne)
{
    const std::vector<Interface> entries = {
        {"lo", "127.0.0.1", true, true},
        {"eth0", "10.0.0.5", true, false},
        {"wlan0", "", true, false},              // its link-layer entry
        {"wlan0", "192.168.1.19", true, false},
        {"wlan0", "192.168.1.20", true, false},  // a later address replaces an earlier one
        {"wlan1", "172.16.0.2", true, false},
    };
    auto wireless = [](const QString &name) { return name.startsWith("wlan"); };
    EXPECT_EQ(MyNetworkController::chooseWifiAddress(entries, wireless), "192.168.1.20");

    auto none = [](const QString &) { return false; };
    EXPECT_EQ(MyNetworkController::chooseWifiAddress(entries, none), "10.0.0.5");
    const std::vector<Interface> downOrLoopback = {{"lo", "127.0.0.1", true, true}, {"eth0", "10.0.0.5", false, false}};
    EXPECT_EQ(MyNetworkController::chooseWifiAddress(downOrLoopback, none), "error");
    // A wireless interface without an IPv4 address (not joined) gives no address at all.
    const std::vector<Interface> notJoined = {{"eth0", "10.0.0.5", true, false}, {"wlan0", "", true, false}};
    EXPECT_EQ(MyNetworkController::chooseWifiAddress(notJoined, wireless), "error");

    QString here = MyNetworkController::localWifiIPAddress();
    EXPECT_TRUE(here == "error" || QHostAddress(here).protocol() == QAbstractSocket::IPv4Protocol) << here.toStdString();
}

} // namespace
