#include "net/my_network_controller.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <QFileInfo>

QString MyNetworkController::chooseWifiAddress(const std::vector<Interface> &entries,
                                               const std::function<bool(const QString &)> &isWireless)
{
    // The wireless interface is the first one so marked, in the system's order.
    QString wireless;
    for (const Interface &e : entries) {
        if (isWireless(e.name)) {
            wireless = e.name;
            break;
        }
    }
    QString result;
    if (!wireless.isEmpty()) {
        for (const Interface &e : entries)
            if (e.name == wireless && !e.ipv4.isEmpty())
                result = e.ipv4;   // a later address of the interface replaces an earlier one
    } else {
        for (const Interface &e : entries) {
            if (e.up && !e.loopback && !e.ipv4.isEmpty()) {
                result = e.ipv4;
                break;
            }
        }
    }
    return result.isEmpty() ? QStringLiteral("error") : result;
}

QString MyNetworkController::localWifiIPAddress()
{
    struct ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return QStringLiteral("error");
    std::vector<Interface> entries;
    for (struct ifaddrs *a = list; a != nullptr; a = a->ifa_next) {
        Interface e;
        e.name = QString::fromLocal8Bit(a->ifa_name);
        e.up = (a->ifa_flags & IFF_UP) != 0;
        e.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET) {
            char text[INET_ADDRSTRLEN] = {};
            const auto *in = reinterpret_cast<const struct sockaddr_in *>(a->ifa_addr);
            if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr)
                e.ipv4 = QString::fromLatin1(text);
        }
        entries.push_back(e);
    }
    freeifaddrs(list);
    return chooseWifiAddress(entries, [](const QString &name) {
        return QFileInfo::exists(QStringLiteral("/sys/class/net/%1/wireless").arg(name));
    });
}
