#include "io/io_base.h"

namespace norvane {
namespace {

constexpr const char* kOutputThreadName = "Digital Output thread";
constexpr const char* kInputThreadName = "Digital Input thread";

// A negative count from the host means no inputs or outputs.
std::uint32_t CountOf(std::int32_t count) {
    return count > 0 ? static_cast<std::uint32_t>(count) : 0;
}

void FillUnknown(std::map<std::uint32_t, std::uint32_t>& states, std::uint32_t count) {
    for (std::uint32_t index = 0; index < count; ++index) {
        states[index] = kIOStateUnknown;
    }
}

} // namespace

CIOBase::CIOBase(IDriver* driver) : m_driver(driver) {
    FillUnknown(m_inputStates, GetInputCount());
}

CIOBase::~CIOBase() {
    StopWorkers();
}

void CIOBase::StopWorkers() {
    if (m_outputWorker.IsStarted() || m_inputPoller.IsStarted()) {
        m_stopping.store(true);
        AbortDeviceRequests();
        m_outputWorker.StopWorker();
        if (m_inputPoller.IsStarted()) {
            m_inputPoller.StopTicker();
        }
    }
}

bool CIOBase::SetCallback(IIOCallback* callback) {
    if (callback == nullptr) {
        return false;
    }
    m_callback.store(callback);
    return true;
}

uint32_t CIOBase::GetInputCount() {
    return m_driver != nullptr ? CountOf(m_driver->GetIOCounts().first) : 0;
}

uint32_t CIOBase::GetOutputCount() {
    return m_driver != nullptr ? CountOf(m_driver->GetIOCounts().second) : 0;
}

void CIOBase::ReportFailure() {
    if (m_stopping.load()) {
        return;
    }
    ResetStates();
    if (IIOCallback* callback = m_callback.load()) {
        callback->OnIOFailure();
    }
}

void CIOBase::ReportException(const std::string& thread, const char* what) noexcept {
    try {
        if (m_driver != nullptr) {
            m_driver->DebugMessage(1, "%s: request failed: %s", thread.c_str(), what);
        }
        ReportFailure();
    } catch (...) {
        // Out of memory even for the message: the request has failed all the same.
    }
}

void CIOBase::InitializeIO() {
    if (GetInputCount() > 0 && !PollInputs()) {
        ReportFailure();
    }
    for (std::uint32_t index = 0; index < GetOutputCount(); ++index) {
        {
            std::lock_guard<std::mutex> guard(m_stateLock);
            m_outputStates[index] = kIOStateInactive;
        }
        if (WriteOutput(index, kIOStateInactive)) {
            ReportSwitched(index, kIOStateInactive);
        } else {
            ReportFailure();
        }
    }
}

bool CIOBase::StartIO() {
    m_stopping.store(false);
    ResumeDeviceRequests();
    bool result = true;
    InitializeIO();
    if (GetOutputCount() > 0 && !m_outputWorker.StartWorker(kOutputThreadName)) {
        result = false;
    }
    if (GetInputCount() == 0) {
        return result;
    }
    if (m_inputPoller.IsStarted()) {
        return false;
    }
    if (!m_inputPoller.HasStopEvent() && !m_inputPoller.CreateStopEvent()) {
        return false;
    }
    m_inputPoller.ResetStopEvent();
    if (!m_inputPoller.Start(kInputThreadName)) {
        return false;
    }
    return result;
}

bool CIOBase::StopIO() {
    bool result = true;
    // Whatever fails from here on fails because of this stop.
    m_stopping.store(true);
    AbortDeviceRequests();
    m_outputWorker.StopWorker();
    if (m_inputPoller.IsStarted()) {
        if (m_inputPoller.HasStopEvent()) {
            m_inputPoller.StopTicker();
            ResetStates();
            return true;
        }
        result = false;
    }
    ResetStates();
    return result;
}

bool CIOBase::SetOutput(uint32_t index, uint32_t state) {
    return m_outputWorker.Post(std::make_unique<CWorkItem>(index, state));
}

void CIOBase::ProcessOutput(thread::CWorkItemThread::IWorkItem& item) {
    if (m_stopping.load()) {
        return; // a queued request that the stop abandons
    }
    const auto& request = static_cast<const CWorkItem&>(item);
    {
        std::lock_guard<std::mutex> guard(m_stateLock);
        const auto found = m_outputStates.find(request.index);
        if (found == m_outputStates.end() || found->second == request.state) {
            return;
        }
        found->second = request.state;
    }
    if (WriteOutput(request.index, request.state)) {
        ReportSwitched(request.index, request.state);
    } else {
        ReportFailure();
    }
}

void CIOBase::ReportSwitched(std::uint32_t index, std::uint32_t state) {
    // The host's only word that a switch took place: SetOutput itself only queues it.
    if (m_driver != nullptr && !m_stopping.load()) {
        m_driver->DebugMessage(2, "CIOBase: the camera took output %u state %u", index, state);
    }
}

void CIOBase::PollOnce() {
    if (m_stopping.load()) {
        return;
    }
    if (!PollInputs()) {
        ReportFailure();
    }
}

void CIOBase::UpdateInput(std::uint32_t index, std::uint32_t state) {
    {
        std::lock_guard<std::mutex> guard(m_stateLock);
        const auto found = m_inputStates.find(index);
        if (found == m_inputStates.end() || found->second == state) {
            return;
        }
        found->second = state;
    }
    if (IIOCallback* callback = m_callback.load()) {
        callback->OnInputChanged(index, state);
    }
}

void CIOBase::ResetStates() {
    const std::uint32_t outputs = GetOutputCount();
    const std::uint32_t inputs = GetInputCount();
    std::lock_guard<std::mutex> guard(m_stateLock);
    m_inputStates.clear();
    m_outputStates.clear();
    FillUnknown(m_outputStates, outputs);
    FillUnknown(m_inputStates, inputs);
}

std::map<std::uint32_t, std::uint32_t> CIOBase::InputStates() {
    std::lock_guard<std::mutex> guard(m_stateLock);
    return m_inputStates;
}

std::map<std::uint32_t, std::uint32_t> CIOBase::OutputStates() {
    std::lock_guard<std::mutex> guard(m_stateLock);
    return m_outputStates;
}

} // namespace norvane
