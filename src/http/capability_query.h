// CCapabilityQuery: the capability query behind the four *CapabilityQuery exports. The host
// registers a callback, starts one query with a camera's address, credentials and its results
// object, and is told on a worker thread whether the camera's properties were read and saved.
// One query at a time; the library keeps one instance (LibraryCapabilityQuery).
//
// Threads: Init, Start, Terminate and Uninit come from the host's threads; the query runs on one
// worker thread, which makes every call into the host. Uninit ends a camera request in progress
// and waits for the worker, so after it returns the worker never calls the host again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/device_info.h"
#include "http/camera_properties.h"
#include "norvane/capability.h"

namespace norvane {

// Time-outs of the camera record a query builds.
constexpr std::int32_t kCapabilityTimeoutMs = 10000;

// Texts of OnFailed (always with code 3).
constexpr const char* kFailedCreate = "Failed to create camera properties object";
constexpr const char* kFailedQuery = "Failed to get camera properties";
constexpr const char* kFailedSave = "Failed to save capability query results";

class CCapabilityQuery {
public:
    // Makes the properties object of a query from the camera record and the video standard.
    using PropertiesFactory =
            std::function<std::unique_ptr<CCameraPropertiesEx>(const DEVICE_INFO&, std::uint32_t)>;

    // The default factory makes CVantrelCameraProperties.
    CCapabilityQuery();
    explicit CCapabilityQuery(PropertiesFactory factory);
    // Ends a query still running, as Uninit does.
    ~CCapabilityQuery();
    CCapabilityQuery(const CCapabilityQuery&) = delete;
    CCapabilityQuery& operator=(const CCapabilityQuery&) = delete;

    // Init registers `client`: 1, or 0 when a client is registered already (nothing changes).
    // `ntsc` non-zero selects the 60 Hz family as the initial video standard.
    std::int32_t Init(ICapabilityCallback* client, std::uint8_t ntsc);

    // Start begins the query on a worker thread: 1, or 0 when the thread cannot be started or a
    // query was started already since the last Uninit. Null texts read as empty; the low 16 bits
    // of `port` are the HTTP port.
    std::int32_t Start(const char* address, std::int32_t port, const char* userName,
                       const char* password, ICapabilityResults* results);

    // Terminate makes a running query skip the steps it has not begun; a camera request in
    // progress runs to its end. Always 1.
    std::int32_t Terminate();

    // Uninit ends the query (a camera request in progress is aborted), waits for the worker,
    // forgets the client and results and destroys the properties object. Always 1. Called from
    // the host's own callback on the worker thread it cannot wait; the worker then only finishes
    // its current call and makes no further call into the host.
    std::int32_t Uninit();

private:
    class CContext;

    void Work(const std::shared_ptr<CContext>& context);

    PropertiesFactory m_factory;
    std::mutex m_lock; // guards the members below; never held while waiting for the worker
    ICapabilityCallback* m_client = nullptr;
    ICapabilityResults* m_results = nullptr;
    std::uint32_t m_videoStandard = 0;
    std::shared_ptr<CContext> m_context; // the current query; shared with its worker
    std::thread m_worker;
};

// LibraryCapabilityQuery is the one query of the library, used by the exports.
CCapabilityQuery& LibraryCapabilityQuery();

} // namespace norvane
