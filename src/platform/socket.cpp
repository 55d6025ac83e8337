// The system-neutral part of CSocket: ownership of the handle. Close is each backend's.
#include "platform/socket.h"

namespace norvane::platform {

CSocket::~CSocket() {
    Close();
}

CSocket::CSocket(CSocket&& other) noexcept
    : m_handle(other.m_handle)
    , m_nonBlocking(other.m_nonBlocking) {
    other.m_handle = kInvalidHandle;
    other.m_nonBlocking = false;
}

CSocket& CSocket::operator=(CSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        m_nonBlocking = other.m_nonBlocking;
        other.m_handle = kInvalidHandle;
        other.m_nonBlocking = false;
    }
    return *this;
}

} // namespace norvane::platform
