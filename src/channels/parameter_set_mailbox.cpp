#include "channels/parameter_set_mailbox.h"

namespace norvane {

void CParameterSetMailbox::Post(std::span<const std::uint8_t> vps,
                                std::span<const std::uint8_t> sps,
                                std::span<const std::uint8_t> pps) {
    std::vector<std::uint8_t> newVps(vps.begin(), vps.end());
    std::vector<std::uint8_t> newSps(sps.begin(), sps.end());
    std::vector<std::uint8_t> newPps(pps.begin(), pps.end());
    CSpinWaitLockGuard guard(m_lock);
    m_vps.swap(newVps);
    m_sps.swap(newSps);
    m_pps.swap(newPps);
    m_posted.store(true);
}

bool CParameterSetMailbox::Take(std::vector<std::uint8_t>& vps, std::vector<std::uint8_t>& sps,
                                std::vector<std::uint8_t>& pps) {
    if (!m_posted.load()) {
        return false;
    }
    CSpinWaitLockGuard guard(m_lock);
    if (!m_posted.exchange(false)) {
        return false;
    }
    vps.swap(m_vps);
    sps.swap(m_sps);
    pps.swap(m_pps);
    m_vps.clear();
    m_sps.clear();
    m_pps.clear();
    return true;
}

} // namespace norvane
