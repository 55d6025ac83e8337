// Windows backend of CEventHandle on an event object: manual- and auto-reset events are the
// system's own kinds.
#include <windows.h>

#include "platform/event_handle.h"

namespace norvane::platform {

std::unique_ptr<CEventHandle> CEventHandle::Create(Kind kind, bool initiallySet) {
    HANDLE handle = ::CreateEventW(nullptr, kind == Kind::ManualReset ? TRUE : FALSE,
                                   initiallySet ? TRUE : FALSE, nullptr);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<CEventHandle>(new CEventHandle(handle, kind));
}

CEventHandle::~CEventHandle() {
    ::CloseHandle(m_handle);
}

void CEventHandle::Set() {
    ::SetEvent(m_handle);
}

void CEventHandle::Reset() {
    ::ResetEvent(m_handle);
}

bool CEventHandle::TryConsume() {
    // The wait that saw the event signalled has already cleared an auto-reset event.
    return true;
}

bool CEventHandle::IsSet() const {
    if (::WaitForSingleObject(m_handle, 0) != WAIT_OBJECT_0) {
        return false;
    }
    if (m_kind == Kind::AutoReset) {
        // Looking cleared it; put it back.
        ::SetEvent(m_handle);
    }
    return true;
}

bool CEventHandle::Wait(int timeoutMs) {
    const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    return ::WaitForSingleObject(m_handle, limit) == WAIT_OBJECT_0;
}

} // namespace norvane::platform
