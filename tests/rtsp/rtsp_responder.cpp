#include "rtsp_responder.h"

#include <sys/socket.h>

#include "platform/wait.h"

namespace norvane::test {

ResponderStep Reply(std::string text) {
    ResponderStep step;
    step.pieces.push_back(std::move(text));
    return step;
}

ResponderStep Pieces(const std::string& text, std::size_t size, int pauseMs) {
    ResponderStep step;
    for (std::size_t i = 0; i < text.size(); i += size) {
        step.pieces.push_back(text.substr(i, size));
    }
    step.pauseMs = pauseMs;
    return step;
}

CRtspResponder::CRtspResponder(std::vector<ResponderStep> script)
    : m_script(std::move(script))
    , m_listener(platform::CSocket::CreateTcp())
    , m_stop(platform::CEventHandle::Create(platform::CEventHandle::Kind::ManualReset)) {
    if (m_listener.Bind(platform::LoopbackAddress(), 0) && m_listener.Listen(1)) {
        m_port = m_listener.LocalPort();
    }
    m_thread = std::thread([this] { Run(); });
}

CRtspResponder::~CRtspResponder() {
    m_stop->Set();
    m_thread.join();
}

std::vector<std::string> CRtspResponder::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool CRtspResponder::ReadRequest(platform::CSocket& connection, std::string& pending,
                                 std::string& request) {
    for (;;) {
        const std::size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            request = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            return true;
        }
        if (platform::WaitSocket(connection, platform::WaitFor::Read, m_stop.get(), 10000) !=
            platform::WaitResult::Ready) {
            return false;
        }
        std::uint8_t buffer[1024];
        const platform::IoResult result = connection.Receive(buffer);
        if (!result.Ok() || result.bytes == 0) {
            return false;
        }
        pending.append(reinterpret_cast<const char*>(buffer), result.bytes);
    }
}

bool CRtspResponder::Write(platform::CSocket& connection, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const platform::IoResult result = connection.Send(
                {reinterpret_cast<const std::uint8_t*>(text.data()) + done, text.size() - done});
        if (!result.Ok()) {
            return false;
        }
        done += result.bytes;
    }
    return true;
}

void CRtspResponder::Run() {
    if (platform::WaitSocket(m_listener, platform::WaitFor::Read, m_stop.get(), 10000) !=
        platform::WaitResult::Ready) {
        return;
    }
    platform::CSocket connection = m_listener.Accept(nullptr);
    if (!connection.IsValid()) {
        return;
    }
    std::string pending;
    for (const ResponderStep& step : m_script) {
        std::string request;
        if (!ReadRequest(connection, pending, request)) {
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        if (step.action == ResponderStep::Action::Silent) {
            m_stop->Wait(-1);
            return;
        }
        if (step.action == ResponderStep::Action::Reset) {
            // A zero linger time makes close send RST instead of FIN.
            const linger abort{1, 0};
            ::setsockopt(connection.Native(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            connection.Close();
            return;
        }
        for (const std::string& piece : step.pieces) {
            if (step.pauseMs > 0 && m_stop->Wait(step.pauseMs)) {
                return;
            }
            if (!Write(connection, piece)) {
                return;
            }
        }
    }
    // Script done: keep the connection open until the test ends.
    m_stop->Wait(-1);
}

std::string HeaderOf(const std::string& request, const std::string& name) {
    const std::string key = "\r\n" + name + ": ";
    const std::size_t start = request.find(key);
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t value = start + key.size();
    return request.substr(value, request.find("\r\n", value) - value);
}

} // namespace norvane::test
