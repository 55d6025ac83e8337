// CSenderLock decides which sender's RTP packets belong to the session being set up. Packets that
// arrive before the session's media are expected are strays: another session (an earlier one of
// this channel, or another program's) still sends to the port. They are dropped, and their
// senders are remembered so that their packets stay dropped once the session streams. When the
// media is expected, the first packet from an allowed address that matches what the SETUP answer
// announced (source port, SSRC) locks the session to its sender's address and port; packets of
// every other sender are dropped and counted. A locked sender may change its SSRC (an encoder
// restart), but never to one of the strays'.
//
// Threads: Admit runs on the receive thread only. Expect runs on the owner's thread while packets
// may arrive; Reset only while no packet can arrive (no receive thread runs).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/socket.h"

namespace norvane {

// What the session announced about its media's sender.
struct ExpectedSender {
    // Addresses (network order) the media may come from; 0 entries are unused.
    std::array<std::uint32_t, 3> addresses{};
    std::optional<std::uint16_t> port; // the sender's RTP port
    std::optional<std::uint32_t> ssrc; // as a number (the packet's four bytes read big-endian)
};

class CSenderLock {
public:
    // Expect starts the session's media: packets from now on may be the session's own.
    void Expect(const ExpectedSender& expected);
    // Reset forgets the strays, the expectation and the lock, for the next session.
    void Reset();
    // Admit reports whether the packet of `ssrc` (big-endian number) from `from` belongs to the
    // session.
    [[nodiscard]] bool Admit(const platform::SocketAddress& from, std::uint32_t ssrc);

    // StraysSeen: packets arrived before the media was expected; any thread.
    [[nodiscard]] bool StraysSeen() const { return m_straysSeen.load(std::memory_order_relaxed); }

    // ForeignPackets counts the packets dropped because of their sender; any thread.
    [[nodiscard]] std::uint64_t ForeignPackets() const {
        return m_foreign.load(std::memory_order_relaxed);
    }

private:
    struct Sender {
        platform::SocketAddress from;
        std::uint32_t ssrc = 0;
    };

    static constexpr std::size_t kMaxStrays = 8;

    void RememberStray(const platform::SocketAddress& from, std::uint32_t ssrc);
    [[nodiscard]] bool IsStray(const platform::SocketAddress& from, std::uint32_t ssrc) const;
    [[nodiscard]] bool Matches(const platform::SocketAddress& from, std::uint32_t ssrc) const;
    bool Drop();

    ExpectedSender m_expected; // written before m_expecting is set, read after
    std::atomic<bool> m_expecting{false};
    std::atomic<bool> m_straysSeen{false};
    std::atomic<std::uint64_t> m_foreign{0};
    // Receive thread only.
    std::array<Sender, kMaxStrays> m_strays{};
    std::size_t m_strayCount = 0;
    std::optional<platform::SocketAddress> m_locked;
};

// ReadSsrc returns the SSRC of a packet's four header bytes as they stand (`wire`) as a number.
[[nodiscard]] std::uint32_t SsrcNumber(std::uint32_t wire);

} // namespace norvane
