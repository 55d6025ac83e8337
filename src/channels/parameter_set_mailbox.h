// CParameterSetMailbox: hands the parameter sets of a session description (H.264 SPS and PPS, or
// H.265 VPS, SPS and PPS) from the channel
// thread, which learns them from DESCRIBE, to the UDP receive thread, which owns the depacketizer.
// The receive thread is already running when DESCRIBE is answered (the ports are opened first),
// and a packet from the camera's address may arrive at any time, so the depacketizer is never
// touched from the channel thread.
//
// Threads: Post on any thread; Take on the receive thread. The newest posted pair wins; each pair
// is taken once.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "runtime/spin_wait_lock.h"

namespace norvane {

class CParameterSetMailbox {
public:
    void Post(std::span<const std::uint8_t> sps, std::span<const std::uint8_t> pps) {
        Post({}, sps, pps);
    }

    void Post(std::span<const std::uint8_t> vps, std::span<const std::uint8_t> sps,
              std::span<const std::uint8_t> pps);

    // Take moves the posted sets into its arguments; false (all left alone) when nothing new was
    // posted since the last Take.
    bool Take(std::vector<std::uint8_t>& sps, std::vector<std::uint8_t>& pps) {
        std::vector<std::uint8_t> vps;
        return Take(vps, sps, pps);
    }

    bool Take(std::vector<std::uint8_t>& vps, std::vector<std::uint8_t>& sps,
              std::vector<std::uint8_t>& pps);

private:
    CSpinWaitLock m_lock;
    std::vector<std::uint8_t> m_vps;
    std::vector<std::uint8_t> m_sps;
    std::vector<std::uint8_t> m_pps;
    std::atomic<bool> m_posted{false}; // lets every packet skip the lock when nothing is new
};

} // namespace norvane
