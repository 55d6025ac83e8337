#include "support/fakes.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "platform/system.h"

namespace norvane::test {

namespace {

std::string Text(const char* text) {
    return text != nullptr ? text : "(null)";
}

template <class Predicate>
bool WaitUntil(std::mutex& mutex, std::condition_variable& changed,
               std::chrono::milliseconds timeout, Predicate predicate) {
    std::unique_lock<std::mutex> guard(mutex);
    return changed.wait_for(guard, timeout, predicate);
}

} // namespace

void FakeDebugSink::OnDebugInfo(CDebugInfoIf* info) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_messages.push_back({info->GetLevel(), Text(info->GetText())});
    }
    m_changed.notify_all();
}

std::vector<DebugRecord> FakeDebugSink::Messages() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_messages;
}

std::size_t FakeDebugSink::CountContaining(const std::string& fragment) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return static_cast<std::size_t>(
            std::count_if(m_messages.begin(), m_messages.end(), [&](const DebugRecord& m) {
                return m.text.find(fragment) != std::string::npos;
            }));
}

bool FakeDebugSink::WaitFor(const std::string& fragment, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(m_mutex);
    return m_changed.wait_for(guard, timeout, [&] {
        return std::any_of(m_messages.begin(), m_messages.end(), [&](const DebugRecord& m) {
            return m.text.find(fragment) != std::string::npos;
        });
    });
}

void FakeDebugSink::Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_messages.clear();
}

FakeSample::FakeSample(uint32_t code, uint32_t size, std::string name)
    : allocatedFourCC(code)
    , capacity(size)
    , driverName(std::move(name))
    , buffer(size) {}

uint8_t* FakeSample::GetBuffer() {
    calls.emplace_back("GetBuffer()");
    return buffer.data();
}

void FakeSample::SetLength(uint32_t value) {
    calls.push_back("SetLength(" + std::to_string(value) + ")");
    length = value;
}

void FakeSample::Commit() {
    calls.emplace_back("Commit()");
    ++commits;
}

void FakeSample::SetFourCC(uint32_t value) {
    calls.push_back("SetFourCC(" + std::to_string(value) + ")");
    fourcc = value;
}

void FakeSample::SetHeight(uint32_t value) {
    calls.push_back("SetHeight(" + std::to_string(value) + ")");
    height = value;
}

void FakeSample::SetWidth(uint32_t value) {
    calls.push_back("SetWidth(" + std::to_string(value) + ")");
    width = value;
}

void FakeSample::SetImageSize(uint32_t value) {
    calls.push_back("SetImageSize(" + std::to_string(value) + ")");
    imageSize = value;
}

IHostSample* FakeSampleAllocator::AllocateSample(uint32_t fourcc, uint32_t capacity,
                                                 const char* driverName) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_allocations.push_back({fourcc, capacity, Text(driverName)});
    if (m_failNext > 0) {
        --m_failNext;
        return nullptr;
    }
    ++m_outstanding;
    return new FakeSample(fourcc, capacity, Text(driverName));
}

void FakeSampleAllocator::ReleaseSample(IHostSample* sample) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (sample == nullptr) {
        throw std::logic_error("ReleaseSample(null)");
    }
    --m_outstanding;
    ++m_released;
    delete static_cast<FakeSample*>(sample);
}

void FakeSampleAllocator::FailNext(int count) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_failNext = count;
}

std::vector<AllocationRecord> FakeSampleAllocator::Allocations() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_allocations;
}

std::size_t FakeSampleAllocator::Outstanding() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_outstanding;
}

std::size_t FakeSampleAllocator::Released() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_released;
}

bool FakeFrameSink::OnFrame(IHostSample* sample) {
    Mode mode;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        mode = m_mode;
    }
    if (mode == Mode::Throw) {
        throw std::runtime_error("host sink failure");
    }
    if (mode == Mode::Refuse) {
        return false;
    }
    auto* fake = static_cast<FakeSample*>(sample);
    FrameRecord record;
    record.fourcc = fake->fourcc.value_or(fake->allocatedFourCC);
    record.width = fake->width.value_or(0);
    record.height = fake->height.value_or(0);
    record.imageSize = fake->imageSize.value_or(0);
    const std::size_t length = std::min<std::size_t>(fake->length.value_or(0), fake->buffer.size());
    record.bytes.assign(fake->buffer.begin(),
                        fake->buffer.begin() + static_cast<std::ptrdiff_t>(length));
    record.calls = fake->calls;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_frames.push_back(std::move(record));
    }
    m_changed.notify_all();
    return true;
}

void FakeFrameSink::OnSignalLost() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_signalLost;
    }
    m_changed.notify_all();
}

void FakeFrameSink::SetMode(Mode mode) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_mode = mode;
}

std::vector<FrameRecord> FakeFrameSink::Frames() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_frames;
}

std::size_t FakeFrameSink::FrameCount() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_frames.size();
}

int FakeFrameSink::SignalLostCount() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_signalLost;
}

bool FakeFrameSink::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil(m_mutex, m_changed, timeout, [&] { return m_frames.size() >= count; });
}

bool FakeFrameSink::WaitForSignalLost(int count, std::chrono::milliseconds timeout) const {
    return WaitUntil(m_mutex, m_changed, timeout, [&] { return m_signalLost >= count; });
}

const char* FakeOpenParams::GetParameter(uint32_t index) {
    askedIndexes.push_back(index);
    if (index == 0 || index > parameters.size() || !parameters[index - 1]) {
        return nullptr;
    }
    return parameters[index - 1]->c_str();
}

void FakeIOCallback::OnInputChanged(uint32_t input, uint32_t state) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.push_back("input(" + std::to_string(input) + "," + std::to_string(state) + ")");
    }
    m_changed.notify_all();
}

void FakeIOCallback::OnIOFailure() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.emplace_back("failure");
    }
    m_changed.notify_all();
}

std::vector<std::string> FakeIOCallback::Events() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_events;
}

bool FakeIOCallback::WaitForEvents(std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil(m_mutex, m_changed, timeout, [&] { return m_events.size() >= count; });
}

void FakeCapabilityCallback::OnSucceeded() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.emplace_back("succeeded");
    }
    m_changed.notify_all();
}

void FakeCapabilityCallback::OnFailed(int32_t code, const char* message) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.push_back("failed(" + std::to_string(code) + "," + Text(message) + ")");
    }
    m_changed.notify_all();
}

std::vector<std::string> FakeCapabilityCallback::Events() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_events;
}

bool FakeCapabilityCallback::WaitForEvents(std::size_t count,
                                           std::chrono::milliseconds timeout) const {
    return WaitUntil(m_mutex, m_changed, timeout, [&] { return m_events.size() >= count; });
}

class FakeCapabilityResults::Field final : public ICapabilityField {
    NORVANE_IMPLEMENT_SLOT0(Field)

public:
    Field(FakeCapabilityResults& owner, uint32_t index)
        : m_owner(owner)
        , m_prefix("Field(" + std::to_string(index) + ").") {}

    void SetText(const char* text) override {
        m_owner.Record(m_prefix + "SetText(" + Text(text) + ")");
    }

private:
    FakeCapabilityResults& m_owner;
    std::string m_prefix;
};

class FakeCapabilityResults::Property final : public ICapabilityProperty {
    NORVANE_IMPLEMENT_SLOT0(Property)

public:
    Property(FakeCapabilityResults& owner, uint32_t index)
        : m_owner(owner)
        , m_prefix("Property(" + std::to_string(index) + ").") {}

    void SetText(const char* text) override {
        m_owner.Record(m_prefix + "SetText(" + Text(text) + ")");
    }

    void SetFlag(uint32_t flag) override {
        m_owner.Record(m_prefix + "SetFlag(" + std::to_string(flag) + ")");
    }

    void SetName(const char* name) override {
        m_owner.Record(m_prefix + "SetName(" + Text(name) + ")");
    }

    void SetKind(uint32_t kind) override {
        m_owner.Record(m_prefix + "SetKind(" + std::to_string(kind) + ")");
    }

private:
    FakeCapabilityResults& m_owner;
    std::string m_prefix;
};

class FakeCapabilityResults::Resolutions final : public IResolutionList {
    NORVANE_IMPLEMENT_SLOT0(Resolutions)

public:
    explicit Resolutions(FakeCapabilityResults& owner) : m_owner(owner) {}

    void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) override {
        m_owner.Record("Resolutions.Add(" + Text(text) + "," + std::to_string(width) + "," +
                       std::to_string(height) + "," + std::to_string(interval) + ")");
    }

private:
    FakeCapabilityResults& m_owner;
};

class FakeCapabilityResults::Intervals final : public IFrameIntervalList {
    NORVANE_IMPLEMENT_SLOT0(Intervals)

public:
    Intervals(FakeCapabilityResults& owner, uint32_t list)
        : m_owner(owner)
        , m_prefix("Intervals(" + std::to_string(list) + ").") {}

    void SetDefault(uint32_t interval) override {
        m_owner.Record(m_prefix + "SetDefault(" + std::to_string(interval) + ")");
    }

    void Add(uint32_t interval) override {
        m_owner.Record(m_prefix + "Add(" + std::to_string(interval) + ")");
    }

private:
    FakeCapabilityResults& m_owner;
    std::string m_prefix;
};

FakeCapabilityResults::FakeCapabilityResults() : m_resolutions(new Resolutions(*this)) {
    for (uint32_t i = 0; i <= 4; ++i) {
        m_fields.emplace_back(new Field(*this, i));
        m_properties.emplace_back(new Property(*this, i));
    }
    for (uint32_t i = 0; i <= 2; ++i) {
        m_intervals.emplace_back(new Intervals(*this, i));
    }
}

void FakeCapabilityResults::Record(std::string call) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_calls.push_back(std::move(call));
}

void FakeCapabilityResults::SetValue(uint32_t id, uint32_t value) {
    Record("SetValue(" + std::to_string(id) + "," + std::to_string(value) + ")");
}

void FakeCapabilityResults::SetModelName(const char* name) {
    Record("SetModelName(" + Text(name) + ")");
}

ICapabilityField* FakeCapabilityResults::GetConnectionField(uint32_t index) {
    return index < m_fields.size() ? m_fields[index].get() : m_fields[0].get();
}

ICapabilityProperty* FakeCapabilityResults::GetProperty(uint32_t index) {
    return index < m_properties.size() ? m_properties[index].get() : m_properties[0].get();
}

IResolutionList* FakeCapabilityResults::GetResolutionList() {
    return m_resolutions.get();
}

IFrameIntervalList* FakeCapabilityResults::GetFrameIntervalList(uint32_t list) {
    return list < m_intervals.size() ? m_intervals[list].get() : m_intervals[0].get();
}

std::vector<std::string> FakeCapabilityResults::Calls() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_calls;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

namespace {

std::mutex g_lookupLock;
std::condition_variable g_lookupWake;
bool g_lookupReleased = false;
int g_lookupsEntered = 0;
int g_lookupsEnded = 0;
std::uint32_t g_lookupAnswer = 0;

std::uint32_t HangingLookup(const std::string& /*host*/) {
    std::unique_lock<std::mutex> guard(g_lookupLock);
    ++g_lookupsEntered;
    g_lookupWake.wait(guard, [] { return g_lookupReleased; });
    ++g_lookupsEnded;
    g_lookupWake.notify_all();
    return g_lookupAnswer;
}

} // namespace

HangingNameLookup::HangingNameLookup(std::uint32_t answer) {
    {
        std::lock_guard<std::mutex> guard(g_lookupLock);
        g_lookupReleased = false;
        g_lookupsEntered = 0;
        g_lookupsEnded = 0;
        g_lookupAnswer = answer;
    }
    platform::SetNameLookupForTesting(&HangingLookup);
}

HangingNameLookup::~HangingNameLookup() {
    Release();
    std::unique_lock<std::mutex> guard(g_lookupLock);
    g_lookupWake.wait_for(guard, std::chrono::seconds(10),
                          [] { return g_lookupsEnded == g_lookupsEntered; });
    guard.unlock();
    platform::SetNameLookupForTesting(nullptr);
}

void HangingNameLookup::Release() {
    std::lock_guard<std::mutex> guard(g_lookupLock);
    g_lookupReleased = true;
    g_lookupWake.notify_all();
}

int HangingNameLookup::Entered() const {
    std::lock_guard<std::mutex> guard(g_lookupLock);
    return g_lookupsEntered;
}

} // namespace norvane::test
