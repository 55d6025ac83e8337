// CSpinWaitLock: a recursive lock that spins briefly on multiprocessor machines before it blocks.
// It guards short critical sections: a channel's state and data time, the video capture slot
// table, the RTCP reporter's fields.
//
// Threads: any thread; each Lock is matched by one Unlock on the same thread. While any thread is
// counted in the lock count, a newcomer cannot overtake a waiter that is being handed the lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace norvane {

class CSpinWaitLock {
public:
    CSpinWaitLock();
    CSpinWaitLock(const CSpinWaitLock&) = delete;
    CSpinWaitLock& operator=(const CSpinWaitLock&) = delete;

    void Lock();
    void Unlock();

    // Extra acquisition attempts before blocking: 0 on a single processor, 4000 otherwise.
    [[nodiscard]] std::int32_t SpinCount() const { return m_control.spinCount.load(); }

private:
    // Control block: the words of the algorithm, each changed atomically.
    struct ControlBlock {
        std::atomic<std::int32_t> spinCount{0};
        std::atomic<std::int32_t> lockCount{0}; // acquisitions plus waiting threads
        std::atomic<std::uint32_t> ownerThreadId{0};
        std::int32_t recursion = 0; // written only by the owner
    };

    bool TryLockSpinning(std::uint32_t self);
    void Acquired(std::uint32_t self);
    void WaitForHandOver();
    void HandOver();

    // Auto-reset signal on which waiting threads sleep; each HandOver releases exactly one.
    std::mutex m_eventMutex;
    std::condition_variable m_eventCondition;
    std::uint32_t m_eventPermits = 0;

    ControlBlock m_control;
};

// CSpinWaitLockGuard holds a CSpinWaitLock for one scope.
class CSpinWaitLockGuard {
public:
    explicit CSpinWaitLockGuard(CSpinWaitLock& lock) : m_lock(lock) { m_lock.Lock(); }

    ~CSpinWaitLockGuard() { m_lock.Unlock(); }

    CSpinWaitLockGuard(const CSpinWaitLockGuard&) = delete;
    CSpinWaitLockGuard& operator=(const CSpinWaitLockGuard&) = delete;

private:
    CSpinWaitLock& m_lock;
};

} // namespace norvane
