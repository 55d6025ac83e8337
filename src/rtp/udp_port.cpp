#include "rtp/udp_port.h"

#include <algorithm>
#include <system_error>

#include "platform/system.h"
#include "platform/wait.h"

namespace norvane {
namespace {

constexpr std::uint32_t kRetryPauseMs = 1;

} // namespace

UdpWaitAction ClassifyWaitError(platform::SocketError error) {
    switch (error) {
    case platform::SocketError::BadAddress:
    case platform::SocketError::NetworkDown:
    case platform::SocketError::NotInitialised:
        return UdpWaitAction::Fatal;
    case platform::SocketError::InvalidArgument:
        return UdpWaitAction::Receive;
    default:
        return UdpWaitAction::Retry;
    }
}

CUDPPort::CUDPPort() = default;

CUDPPort::~CUDPPort() {
    Close();
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach(); // destroyed from its own callback: it ends right after
        } else {
            m_thread.join();
        }
    }
}

void CUDPPort::SetUser(IUDPPortUser* user) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_user.store(user);
}

void CUDPPort::SetTimeout(std::int32_t seconds, std::int32_t microseconds) {
    m_timeoutSec.store(seconds);
    m_timeoutUsec.store(microseconds);
}

bool CUDPPort::IsOpen() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_socket.IsValid();
}

UdpOpenResult CUDPPort::Open(std::uint16_t localPort) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_socket.IsValid()) {
        return UdpOpenResult::AlreadyOpen;
    }
    JoinStoppedThread();
    if (m_thread.joinable()) {
        return UdpOpenResult::ThreadFailed; // called on the old receive thread itself
    }
    m_stopEvent = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
    platform::CSocket socket = platform::CSocket::CreateUdp();
    // Non-blocking: the thread receives only after a readiness wait, and drains until empty.
    if (m_stopEvent == nullptr || !socket.IsValid() || !socket.SetNonBlocking(true)) {
        return UdpOpenResult::SocketFailed;
    }
    if (!socket.SetReceiveBufferSize(kSocketReceiveBufferBytes)) {
        return UdpOpenResult::BufferFailed;
    }
    m_grantedBuffer.store(socket.ReceiveBufferSize());
    if (!socket.Bind(0, localPort)) {
        return UdpOpenResult::BindFailed;
    }
    m_socket = std::move(socket);
    m_localPort.store(localPort != 0 ? localPort : m_socket.LocalPort());
    m_running.store(true);
    try {
        m_thread = std::thread([this] { ReceiveLoop(); });
    } catch (const std::system_error&) {
        m_running.store(false);
        m_socket.Close();
        m_localPort.store(0);
        return UdpOpenResult::ThreadFailed;
    }
    return UdpOpenResult::Opened;
}

bool CUDPPort::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_socket.IsValid()) {
        return true;
    }
    m_running.store(false);
    m_stopEvent->Set();
    // Called from a user callback the thread cannot be waited for; it sees m_running and ends
    // as soon as the callback returns, and the next Open or the destructor joins it.
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
        m_threadId.store(0);
    }
    m_socket.Close();
    NotifyClosed();
    m_localPort.store(0);
    return true;
}

void CUDPPort::JoinStoppedThread() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
        m_threadId.store(0);
    }
}

void CUDPPort::NotifyClosed() {
    if (IUDPPortUser* user = m_user.load()) {
        try {
            user->OnClosed(this);
        } catch (...) {
            // A failing user must not keep the port from closing.
        }
    }
}

int CUDPPort::WaitTimeoutMs() const {
    const std::int64_t ms = std::int64_t{m_timeoutSec.load()} * 1000 + m_timeoutUsec.load() / 1000;
    if (ms <= 0) {
        return m_timeoutSec.load() == 0 && m_timeoutUsec.load() == 0 ? -1 : 0;
    }
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

void CUDPPort::AdjustBatch(ReceiveBatch& batch) const {
    const std::uint32_t wanted = m_bufferSize.load();
    const std::size_t slotSize = batch.slots.empty() ? 0 : batch.slots[0].buffer.size();
    // Grow whenever asked; shrink only for a real saving, so that small changes reuse the buffer.
    if (wanted <= slotSize && wanted + kBufferShrinkSlack >= slotSize) {
        return;
    }
    // Small datagram buffers are received several at a time; a large one alone, so that the
    // batch never costs more than kBatchBytes of memory (or one datagram buffer).
    const std::size_t count =
            m_drainQueued.load()
                    ? std::clamp<std::size_t>(kBatchBytes / std::max<std::uint32_t>(wanted, 1), 1,
                                              kMaxBatchDatagrams)
                    : 1;
    batch.slots.clear();
    batch.storage.reset(); // the old storage goes before the new one is taken
    batch.storage = std::make_unique_for_overwrite<std::uint8_t[]>(count * wanted);
    batch.slots.assign(count, {});
    for (std::size_t i = 0; i < count; ++i) {
        batch.slots[i].buffer = {batch.storage.get() + i * wanted, wanted};
    }
}

void CUDPPort::ReceiveLoop() {
    m_threadId.store(platform::CurrentThreadId());
    platform::RaiseCurrentThreadPriority();
    ReceiveBatch batch;
    while (m_running.load()) {
        int timeout = WaitTimeoutMs();
        IUDPPortUser* holder = m_user.load();
        const int hold = holder != nullptr ? holder->HoldTimeoutMs() : -1;
        const bool holdBounds = hold >= 0 && (timeout < 0 || hold < timeout);
        if (holdBounds) {
            timeout = hold;
        }
        const platform::WaitResult ready =
                platform::WaitSocket(m_socket, platform::WaitFor::Read, m_stopEvent.get(), timeout);
        if (!m_running.load() || ready == platform::WaitResult::Stopped) {
            break;
        }
        if (ready == platform::WaitResult::Timeout) {
            if (IUDPPortUser* user = m_user.load()) {
                if (holdBounds) {
                    user->OnHoldTimeout();
                } else {
                    user->OnTimeout();
                }
            }
            continue;
        }
        if (ready == platform::WaitResult::Error) {
            const UdpWaitAction action = ClassifyWaitError(platform::CSocket::LastError());
            if (action == UdpWaitAction::Fatal) {
                m_running.store(false);
                NotifyClosed();
                return;
            }
            if (action == UdpWaitAction::Retry) {
                platform::SleepMs(kRetryPauseMs);
                continue;
            }
        }
        bool moreDue = false;
        try {
            moreDue = ReceiveQueued(batch);
        } catch (...) {
            // Out of memory growing a buffer, or a user that let an exception out: the datagrams
            // of this batch are lost, reception goes on after a pause.
            platform::SleepMs(kRetryPauseMs);
            continue;
        }
        if (moreDue) {
            const int gather = m_gatherMs.load();
            if (gather > 0 && m_stopEvent->Wait(gather)) {
                break;
            }
        }
    }
}

bool CUDPPort::ReceiveQueued(ReceiveBatch& batch) {
    const std::size_t limit = m_drainQueued.load() ? kMaxDrainPerWait : 1;
    bool moreDue = false;
    std::size_t taken = 0;
    while (taken < limit && m_running.load()) {
        AdjustBatch(batch);
        const std::span<platform::Datagram> slots =
                std::span(batch.slots).first(std::min(batch.slots.size(), limit - taken));
        platform::SocketError error = platform::SocketError::None;
        const std::size_t received = m_socket.ReceiveBatch(slots, error);
        if (received == 0) {
            return moreDue; // nothing more queued, or an error that the next wait reports
        }
        taken += received;
        for (std::size_t i = 0; i < received; ++i) {
            const platform::Datagram& datagram = slots[i];
            if (datagram.tooLong) {
                // The datagram is lost; the next receive uses a buffer 1 KiB larger.
                m_bufferSize.store(static_cast<std::uint32_t>(datagram.buffer.size()) +
                                   kBufferGrowth);
                continue;
            }
            // An empty datagram carries nothing and must not end reception: anyone could send
            // one.
            if (datagram.bytes == 0) {
                continue;
            }
            if (!m_running.load()) {
                return false;
            }
            IUDPPortUser* user = m_user.load();
            moreDue =
                    user != nullptr && user->OnReceive(this, datagram.from, datagram.buffer.data(),
                                                       static_cast<std::int32_t>(datagram.bytes));
        }
        if (received < slots.size()) {
            return moreDue; // the batch was not filled: the queue is empty
        }
    }
    return false; // stopped, or more may be queued: wait again at once
}

} // namespace norvane
