// Parts shared by the simulated camera's servers: the connection reader/writer, the listener
// that accepts connections, the thread set that owns their threads and the authenticator.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera_sim.h"
#include "platform/event_handle.h"
#include "platform/socket.h"
#include "sim_text.h"

namespace norvane::sim {

// A connection without any request for this long is closed.
constexpr int kIdleConnectionMs = 120000;

// CThreadSet owns the connection threads, so that Stop can join every one of them; finished
// threads are joined whenever a new one is spawned or the running ones are counted.
class CThreadSet {
public:
    ~CThreadSet() { JoinAll(); }

    void Spawn(std::function<void()> body);
    void JoinAll();
    // Running returns the number of threads that have not finished yet.
    std::size_t Running();

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void ReapLocked();

    std::mutex m_lock;
    std::list<Entry> m_threads;
};

// CAuthenticator checks Basic (RFC 7617) and Digest (RFC 7616/2617: MD5, MD5-sess, SHA-256 or
// SHA-256-sess, with or without qop=auth) credentials and words the challenge. Nonces stay valid
// while they are among the last 64 issued. Threads: any; the nonce list is locked.
class CAuthenticator {
public:
    CAuthenticator(AuthMode mode, std::string user, std::string password, std::string realm,
                   bool offerQop, std::string algorithm = "MD5");

    [[nodiscard]] AuthMode Mode() const { return m_mode; }

    // Check returns true when the request carries valid credentials (always true for None).
    bool Check(const std::string& method, const std::optional<std::string>& authorization);
    // Challenge returns the value of the WWW-Authenticate header for a 401 reply; Basic when no
    // credentials are checked (a fault refuses every request then).
    std::string Challenge();

private:
    bool CheckDigest(const std::string& method, std::string_view params);

    AuthMode m_mode;
    std::string m_user;
    std::string m_password;
    std::string m_realm;
    bool m_offerQop;
    std::string m_algorithm; // as the challenge names it
    std::mutex m_lock;
    std::deque<std::string> m_nonces;
    std::uint64_t m_nonceCounter = 0;
};

// A request read from a connection.
struct ReceivedRequest {
    std::string headText; // exactly as received
    MessageHead head;
    std::string method;
    std::string uri;
    std::string version;
    std::string body;
};

// CConnection reads requests from and writes replies to one accepted TCP connection, honouring
// the stop event and the reply faults. Interleaved frames ('$', channel, length, data) from the
// client are taken out between requests and handed to the frame handler.
//
// Threads: Read on the connection thread; Send and SendFrame on it and on the sender threads of
// its interleaved sessions, one at a time under the send lock.
class CConnection {
public:
    enum class ReadResult { Ok, Closed, Stopped, Malformed };

    CConnection(platform::CSocket socket, platform::SocketAddress peer,
                platform::CEventHandle* stop)
        : m_socket(std::move(socket))
        , m_peer(peer)
        , m_stop(stop) {}

    ReadResult Read(ReceivedRequest& request, int idleTimeoutMs);
    // SendFrame writes one interleaved frame; false when the connection failed.
    bool SendFrame(std::uint8_t channel, std::span<const std::uint8_t> data);

    // SetFrameHandler names where the client's interleaved frames go (connection thread only).
    void SetFrameHandler(std::function<void(std::uint8_t, std::span<const std::uint8_t>)> handler) {
        m_onFrame = std::move(handler);
    }

    // Send writes the whole reply; with split faults in pieces with pauses. False when the
    // connection failed or the simulator stops.
    bool Send(const std::string& reply, const SimFaults& faults);

    [[nodiscard]] const platform::SocketAddress& Peer() const { return m_peer; }

    [[nodiscard]] std::uint32_t LocalAddress() const { return m_localAddress; }

    void SetLocalAddress(std::uint32_t address) { m_localAddress = address; }

private:
    bool SendAll(std::span<const std::uint8_t> data);

    platform::CSocket m_socket;
    platform::SocketAddress m_peer;
    platform::CEventHandle* m_stop;
    std::mutex m_sendLock;
    std::function<void(std::uint8_t, std::span<const std::uint8_t>)> m_onFrame;
    std::string m_buffer;
    std::uint32_t m_localAddress = 0;
};

using Headers = std::vector<std::pair<std::string, std::string>>;

// FormatReply words a reply head and body; `firstLine` is the status line without its line end.
std::string FormatReply(const std::string& firstLine, const Headers& headers,
                        const std::string& body);

// AddressText writes an IPv4 address held in network byte order as dotted decimals.
std::string AddressText(std::uint32_t address);

// CListener accepts the connections of one server on its own thread and serves each one on a
// thread of the shared thread set, as long as that set runs fewer than kMaxConnections. Listen and
// Start run on the owner's thread; Join after the stop event was set.
class CListener {
public:
    using ServeFn = std::function<void(CConnection&)>;

    // Listen binds and listens; false with `error` set (naming `what`) when the port is taken.
    bool Listen(std::uint32_t address, std::uint16_t port, const char* what, std::string* error);
    // Start runs the accept thread until `stop` is set; `tick`, when given, also runs at least
    // every kAcceptPollMs.
    void Start(platform::CEventHandle* stop, CThreadSet& connections, ServeFn serve,
               std::function<void()> tick = {});
    void Join();

    void Close() { m_socket.Close(); }

    [[nodiscard]] std::uint16_t Port() const { return m_port; }

private:
    void AcceptLoop(platform::CEventHandle* stop, CThreadSet& connections);

    platform::CSocket m_socket;
    std::uint32_t m_address = 0;
    std::uint16_t m_port = 0;
    ServeFn m_serve;              // read by the connection threads
    std::function<void()> m_tick; // read by the accept thread
    std::thread m_acceptor;
};

// LogEntry is the request as the log keeps it.
LoggedRequest LogEntry(LoggedRequest::Protocol protocol, const ReceivedRequest& request);

} // namespace norvane::sim
