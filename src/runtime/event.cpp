#include "runtime/event.h"

#include "platform/wait.h"

namespace norvane {

CEvent::~CEvent() = default;

void CEvent::Set() {
    if (m_handle) {
        m_handle->Set();
    }
}

void CEvent::Reset() {
    if (m_handle) {
        m_handle->Reset();
    }
}

bool CEvent::Wait(int milliseconds) {
    return m_handle && m_handle->Wait(milliseconds);
}

bool CEvent::IsSet() const {
    return m_handle && m_handle->IsSet();
}

CManualEvent::CManualEvent() {
    m_handle = platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset);
}

CAutoEvent::CAutoEvent() {
    m_handle = platform::CEventHandle::Create(platform::CEventHandle::Kind::AutoReset);
}

int WaitAny(CEvent& first, CEvent& second, int milliseconds) {
    if (first.Handle() == nullptr && second.Handle() == nullptr) {
        return -1;
    }
    const int index = platform::WaitEvents({first.Handle(), second.Handle()}, milliseconds);
    return index >= 0 ? index : -1;
}

} // namespace norvane
