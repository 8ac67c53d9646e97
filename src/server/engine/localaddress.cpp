#include "server/engine/localaddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

namespace velmora {

bool ParseAddress(const char* text, uint32_t& addressRaw) {
    in_addr a{};
    if (text == nullptr || inet_pton(AF_INET, text, &a) != 1) return false;
    addressRaw = a.s_addr;
    return true;
}

uint32_t FirstReachableAddress() {
    uint32_t found = htonl(INADDR_LOOPBACK);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        if ((i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK) != 0) continue;
        sockaddr_in sin;
        std::memcpy(&sin, i->ifa_addr, sizeof(sin));
        if ((ntohl(sin.sin_addr.s_addr) >> 24) == 127) continue;
        found = sin.sin_addr.s_addr;
        break;
    }
    freeifaddrs(list);
    return found;
}

char* AddressToText(uint32_t addressRaw, char* text, size_t size) {
    if (text == nullptr || size == 0) return text;
    char buffer[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = addressRaw;
    if (inet_ntop(AF_INET, &a, buffer, sizeof(buffer)) == nullptr) buffer[0] = '\0';
    std::strncpy(text, buffer, size - 1);
    text[size - 1] = '\0';
    return text;
}

}  // namespace velmora
