#include "http/capability_query.h"

#include <atomic>
#include <string>
#include <system_error>
#include <utility>

#include "http/vantrel_camera_properties.h"

namespace norvane {
namespace {

std::string HostText(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace

// CContext is one query: what its worker needs, and its stop state. The worker and the library
// state share it, so a query that Uninit has let go never touches the state of a later one.
class CCapabilityQuery::CContext {
public:
    ICapabilityCallback* client = nullptr;
    ICapabilityResults* results = nullptr;
    std::uint32_t videoStandard = 0;
    std::unique_ptr<DEVICE_INFO> device; // the worker's record, destroyed at its end

    // Adopt stores the worker's properties object; it is aborted at once if the query was
    // stopped before it existed.
    void Adopt(const std::shared_ptr<CCameraPropertiesEx>& properties) {
        bool stopped = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_properties = properties;
            stopped = m_stopped.load();
        }
        if (stopped) {
            properties->Abort();
        }
    }

    void Cancel() {
        if (auto properties = Properties()) {
            properties->Cancel();
        }
    }

    // Stop ends the query for good: no further call into the host, the camera request in
    // progress aborted.
    void Stop() {
        std::shared_ptr<CCameraPropertiesEx> properties;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stopped.store(true);
            properties = m_properties;
        }
        if (properties) {
            properties->Abort();
        }
    }

    [[nodiscard]] bool IsStopped() const { return m_stopped.load(); }

    // Notify calls the host's callback unless the query was stopped.
    template <class Call>
    void Notify(Call&& call) const {
        if (!IsStopped()) {
            std::forward<Call>(call)(*client);
        }
    }

private:
    std::shared_ptr<CCameraPropertiesEx> Properties() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_properties;
    }

    std::mutex m_lock; // guards m_properties and orders it with m_stopped
    std::shared_ptr<CCameraPropertiesEx> m_properties;
    std::atomic<bool> m_stopped{false};
};

CCapabilityQuery::CCapabilityQuery()
    : CCapabilityQuery([](const DEVICE_INFO& device, std::uint32_t standard) {
        return std::unique_ptr<CCameraPropertiesEx>(new CVantrelCameraProperties(device, standard));
    }) {}

CCapabilityQuery::CCapabilityQuery(PropertiesFactory factory) : m_factory(std::move(factory)) {}

CCapabilityQuery::~CCapabilityQuery() {
    Uninit();
}

std::int32_t CCapabilityQuery::Init(ICapabilityCallback* client, std::uint8_t ntsc) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_client != nullptr) {
        return 0;
    }
    m_client = client;
    m_videoStandard = ntsc != 0 ? 1 : 0;
    return 1;
}

std::int32_t CCapabilityQuery::Start(const char* address, std::int32_t port, const char* userName,
                                     const char* password, ICapabilityResults* results) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_worker.joinable()) {
        return 0; // one query per Init/Uninit round; a second thread would lose the first
    }
    m_results = results;
    auto device = std::make_unique<DEVICE_INFO>();
    device->requestTimeout = kCapabilityTimeoutMs;
    device->dataTimeout = kCapabilityTimeoutMs;
    device->address = HostText(address);
    device->port = static_cast<std::uint16_t>(static_cast<std::uint32_t>(port) & 0xFFFFU);
    device->userName = HostText(userName);
    device->password = HostText(password);

    auto context = std::make_shared<CContext>();
    context->client = m_client;
    context->results = m_results;
    context->videoStandard = m_videoStandard;
    context->device = std::move(device);
    try {
        m_worker = std::thread([this, context] { Work(context); });
    } catch (const std::system_error&) {
        return 0;
    }
    m_context = std::move(context);
    return 1;
}

std::int32_t CCapabilityQuery::Terminate() {
    std::shared_ptr<CContext> context;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        context = m_context;
    }
    if (context) {
        context->Cancel();
    }
    return 1;
}

std::int32_t CCapabilityQuery::Uninit() {
    std::thread worker;
    std::shared_ptr<CContext> context;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        worker = std::move(m_worker);
        context = std::move(m_context);
        m_client = nullptr;
        m_results = nullptr;
    }
    if (context) {
        context->Stop();
    }
    if (worker.joinable()) {
        if (worker.get_id() == std::this_thread::get_id()) {
            worker.detach(); // called from the host's callback: the worker ends after it
        } else {
            worker.join();
        }
    }
    // The properties object goes with the last reference to the query: here, unless the worker
    // was let go above.
    return 1;
}

void CCapabilityQuery::Work(const std::shared_ptr<CContext>& context) {
    if (context->client == nullptr || !context->device) {
        return;
    }
    try {
        std::int32_t code = kQueryFailedCode;
        std::shared_ptr<CCameraPropertiesEx> properties;
        try {
            properties = m_factory(*context->device, context->videoStandard);
        } catch (const std::bad_alloc&) {
        }
        if (!properties) {
            context->Notify([&](ICapabilityCallback& client) {
                client.OnFailed(kQueryFailedCode, kFailedCreate);
            });
        } else {
            context->Adopt(properties);
            if (!properties->Query(code)) {
                context->Notify(
                        [&](ICapabilityCallback& client) { client.OnFailed(code, kFailedQuery); });
            } else if (!context->IsStopped() && properties->Save(context->results)) {
                context->Notify([](ICapabilityCallback& client) { client.OnSucceeded(); });
            } else {
                context->Notify(
                        [&](ICapabilityCallback& client) { client.OnFailed(code, kFailedSave); });
            }
        }
    } catch (...) {
        // A failure inside the query or the host's objects ends the worker without a callback.
    }
    context->device.reset();
}

CCapabilityQuery& LibraryCapabilityQuery() {
    static CCapabilityQuery query;
    return query;
}

} // namespace norvane
