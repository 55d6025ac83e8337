// An RTSP responder on loopback for client tests: it accepts one connection, reads each request up
// to its empty line, records it and answers as the script says (whole, in pieces with pauses,
// not at all, or with a connection reset). It shares no code with the client's parser.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_handle.h"
#include "platform/socket.h"

namespace norvane::test {

struct ResponderStep {
    enum class Action { Reply, Silent, Reset };
    Action action = Action::Reply;
    std::vector<std::string> pieces; // written one after the other
    int pauseMs = 0;                 // before each piece
};

// Reply answers with `text` in one piece; Pieces splits it every `size` bytes.
ResponderStep Reply(std::string text);
ResponderStep Pieces(const std::string& text, std::size_t size, int pauseMs);

class CRtspResponder {
public:
    explicit CRtspResponder(std::vector<ResponderStep> script);
    ~CRtspResponder();
    CRtspResponder(const CRtspResponder&) = delete;
    CRtspResponder& operator=(const CRtspResponder&) = delete;

    [[nodiscard]] std::uint16_t Port() const { return m_port; }

    // Requests received so far, each with its header block.
    [[nodiscard]] std::vector<std::string> Requests() const;

private:
    void Run();
    bool ReadRequest(platform::CSocket& connection, std::string& pending, std::string& request);
    bool Write(platform::CSocket& connection, const std::string& text);

    std::vector<ResponderStep> m_script;
    platform::CSocket m_listener;
    std::uint16_t m_port = 0;
    std::unique_ptr<platform::CEventHandle> m_stop;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

// HeaderOf returns the value of the first header `name` in `request` (exact name), or "".
std::string HeaderOf(const std::string& request, const std::string& name);

} // namespace norvane::test
