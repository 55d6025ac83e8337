#include "rtp/sender_lock.h"

#include <algorithm>
#include <cstring>

namespace norvane {

std::uint32_t SsrcNumber(std::uint32_t wire) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &wire, sizeof bytes);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

void CSenderLock::Expect(const ExpectedSender& expected) {
    m_expected = expected;
    m_expecting.store(true, std::memory_order_release);
}

void CSenderLock::Reset() {
    m_expecting.store(false, std::memory_order_relaxed);
    m_straysSeen.store(false, std::memory_order_relaxed);
    m_foreign.store(0, std::memory_order_relaxed);
    m_expected = {};
    m_strayCount = 0;
    m_locked.reset();
}

bool CSenderLock::Admit(const platform::SocketAddress& from, std::uint32_t ssrc) {
    if (!m_expecting.load(std::memory_order_acquire)) {
        RememberStray(from, ssrc);
        return Drop();
    }
    if (IsStray(from, ssrc)) {
        return Drop();
    }
    if (m_locked) {
        return *m_locked == from || Drop();
    }
    if (!Matches(from, ssrc)) {
        return Drop();
    }
    m_locked = from;
    return true;
}

bool CSenderLock::Drop() {
    m_foreign.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void CSenderLock::RememberStray(const platform::SocketAddress& from, std::uint32_t ssrc) {
    m_straysSeen.store(true, std::memory_order_relaxed);
    if (IsStray(from, ssrc)) {
        return;
    }
    // The oldest stray gives way: the bound keeps a flood of senders from costing memory or time.
    m_strays[m_strayCount % kMaxStrays] = {from, ssrc};
    ++m_strayCount;
}

bool CSenderLock::IsStray(const platform::SocketAddress& from, std::uint32_t ssrc) const {
    const std::size_t count = std::min(m_strayCount, kMaxStrays);
    return std::any_of(m_strays.begin(), m_strays.begin() + static_cast<std::ptrdiff_t>(count),
                       [&](const Sender& s) { return s.from == from && s.ssrc == ssrc; });
}

bool CSenderLock::Matches(const platform::SocketAddress& from, std::uint32_t ssrc) const {
    const auto& allowed = m_expected.addresses;
    if (from.address == 0 ||
        std::find(allowed.begin(), allowed.end(), from.address) == allowed.end()) {
        return false;
    }
    if (m_expected.port && *m_expected.port != from.port) {
        return false;
    }
    return !m_expected.ssrc || *m_expected.ssrc == SsrcNumber(ssrc);
}

} // namespace norvane
