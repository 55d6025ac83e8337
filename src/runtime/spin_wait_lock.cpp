#include "runtime/spin_wait_lock.h"

#include "platform/system.h"

namespace norvane {
namespace {

constexpr std::int32_t kMultiprocessorSpinCount = 4000;

// Computed once per process, on the first construction of any lock.
bool IsSingleProcessor() {
    static const bool single = platform::ProcessorCount() == 1;
    return single;
}

} // namespace

CSpinWaitLock::CSpinWaitLock() {
    m_control.spinCount.exchange(IsSingleProcessor() ? 0 : kMultiprocessorSpinCount);
}

void CSpinWaitLock::Acquired(std::uint32_t self) {
    m_control.ownerThreadId.store(self, std::memory_order_relaxed);
    m_control.recursion = 1;
}

bool CSpinWaitLock::TryLockSpinning(std::uint32_t self) {
    const std::int32_t attempts = m_control.spinCount.load(std::memory_order_relaxed) + 1;
    for (std::int32_t i = 0; i < attempts; ++i) {
        std::int32_t expected = 0;
        if (m_control.lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            Acquired(self);
            return true;
        }
        if (m_control.ownerThreadId.load(std::memory_order_relaxed) == self) {
            m_control.lockCount.fetch_add(1, std::memory_order_relaxed);
            ++m_control.recursion;
            return true;
        }
    }
    return false;
}

void CSpinWaitLock::Lock() {
    const std::uint32_t self = platform::CurrentThreadId();
    if (TryLockSpinning(self)) {
        return;
    }
    const std::int32_t count = m_control.lockCount.fetch_add(1, std::memory_order_acquire) + 1;
    if (count == 1) {
        Acquired(self); // the owner left meanwhile
        return;
    }
    if (m_control.ownerThreadId.load(std::memory_order_relaxed) == self) {
        ++m_control.recursion;
        return;
    }
    WaitForHandOver();
    Acquired(self);
}

void CSpinWaitLock::Unlock() {
    if (--m_control.recursion > 0) {
        m_control.lockCount.fetch_sub(1, std::memory_order_release);
        return;
    }
    m_control.ownerThreadId.store(0, std::memory_order_relaxed);
    if (m_control.lockCount.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0) {
        HandOver(); // a thread is waiting or about to wait: it becomes the owner
    }
}

void CSpinWaitLock::WaitForHandOver() {
    std::unique_lock<std::mutex> guard(m_eventMutex);
    m_eventCondition.wait(guard, [this] { return m_eventPermits > 0; });
    --m_eventPermits;
}

void CSpinWaitLock::HandOver() {
    {
        std::lock_guard<std::mutex> guard(m_eventMutex);
        ++m_eventPermits;
    }
    m_eventCondition.notify_one();
}

} // namespace norvane
