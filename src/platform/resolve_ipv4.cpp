// Host-name resolution, the same on every system once the headers are chosen.
#include <atomic>
#include <cstdint>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/event_handle.h"
#include "platform/system.h"
#include "platform/wait.h"

#if defined(_WIN32)
// winsock2.h must come before ws2tcpip.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace norvane::platform {
namespace {

std::atomic<NameLookup> g_lookup{nullptr};

// Lookup asks the system's resolver; with AI_NUMERICHOST it only reads a dotted address.
std::uint32_t Lookup(const std::string& host, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
        return 0;
    }
    std::uint32_t address = 0;
    for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            break;
        }
    }
    ::freeaddrinfo(result);
    return address;
}

// One lookup on a helper thread; shared so that the helper of an abandoned lookup still has it.
struct PendingLookup {
    std::atomic<std::uint32_t> address{0};
    std::unique_ptr<CEventHandle> done;
};

} // namespace

std::uint32_t ResolveIPv4(const std::string& host) {
    if (host.empty()) {
        return 0;
    }
    if (const std::uint32_t numeric = Lookup(host, AI_NUMERICHOST); numeric != 0) {
        return numeric;
    }
    if (const NameLookup lookup = g_lookup.load()) {
        return lookup(host);
    }
    return Lookup(host, 0);
}

std::uint32_t ParseIPv4(const std::string& host) {
    return host.empty() ? 0 : Lookup(host, AI_NUMERICHOST);
}

std::uint32_t ResolveIPv4Stoppable(const std::string& host, CEventHandle* stop, int timeoutMs) {
    if (host.empty()) {
        return 0;
    }
    if (const std::uint32_t numeric = Lookup(host, AI_NUMERICHOST); numeric != 0) {
        return numeric;
    }
    auto pending = std::make_shared<PendingLookup>();
    pending->done = CEventHandle::Create(CEventHandle::Kind::ManualReset);
    if (!pending->done) {
        return 0;
    }
    try {
        std::thread([pending, host] {
            pending->address.store(ResolveIPv4(host));
            pending->done->Set();
        }).detach();
    } catch (const std::system_error&) {
        return 0;
    }
    if (WaitEvents({pending->done.get(), stop}, timeoutMs) != 0) {
        return 0; // stopped or timed out: the helper ends by itself
    }
    return pending->address.load();
}

std::string FormatIPv4(std::uint32_t address) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

void SetNameLookupForTesting(NameLookup lookup) {
    g_lookup.store(lookup);
}

} // namespace norvane::platform
