// MyNetworkController: the address a computer on the same wireless network uses to
// reach the FTP server, for the settings screen.
#pragma once

#include <functional>
#include <vector>

#include <QString>

class MyNetworkController {
public:
    // The IPv4 address (dotted decimal) of the wireless interface: the first interface
    // that /sys/class/net/NAME/wireless marks as wireless; without one, the first interface
    // that is up, not loopback and has an IPv4 address. "error" when there is none.
    static QString localWifiIPAddress();

    // The choice itself, over a given interface list, for tests.
    struct Interface {
        QString name;
        QString ipv4;        // "" when the entry is not an IPv4 address
        bool up = false;
        bool loopback = false;
    };
    static QString chooseWifiAddress(const std::vector<Interface> &entries,
                                     const std::function<bool(const QString &name)> &isWireless);
};
