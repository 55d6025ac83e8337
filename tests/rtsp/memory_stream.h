// CMemoryStream: an IByteStream in memory for client tests. It plays a camera: each request sent
// releases the next scripted answer, whose pieces then arrive one per Receive (as TCP segments
// would); bytes can also arrive unasked. It records what was sent, can fail the Nth call of Send
// or Receive, and a set stop event ends Receive (a send, which need not wait, goes out).
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "platform/event_handle.h"
#include "rtsp/byte_stream.h"

namespace norvane::test {

class CMemoryStream final : public IByteStream {
public:
    // Answer scripts the pieces that arrive once the next unanswered request has been sent.
    void Answer(std::vector<std::string> pieces) { m_answers.push_back(std::move(pieces)); }

    // Arrive puts a piece that has already arrived, before any request.
    void Arrive(std::string piece) { m_incoming.push_back(std::move(piece)); }

    // FailCall makes the `call`th call of Send or Receive (counted together from 1) fail.
    void FailCall(std::size_t call) { m_failCall = call; }

    // CloseWhenDrained makes Receive report a closed stream instead of a time-out when nothing
    // is left to arrive.
    void CloseWhenDrained() { m_closeWhenDrained = true; }

    [[nodiscard]] const std::vector<std::string>& Requests() const { return m_requests; }

    [[nodiscard]] bool IsOpen() const { return m_open; }

    bool Connect(const std::string& host, std::uint16_t port, std::uint32_t /*receiveBufferSize*/,
                 int /*timeoutMs*/, platform::CEventHandle* /*stop*/) override {
        m_connects.push_back(host + ":" + std::to_string(port));
        m_open = true;
        return true;
    }

    // Connects lists "host:port" of every Connect.
    [[nodiscard]] const std::vector<std::string>& Connects() const { return m_connects; }

    void Close() override { m_open = false; }

    StreamStatus Send(std::span<const std::uint8_t> data, int /*timeoutMs*/,
                      platform::CEventHandle* /*stop*/) override {
        if (CallFails()) {
            return StreamStatus::Failed;
        }
        m_requests.emplace_back(reinterpret_cast<const char*>(data.data()), data.size());
        if (!m_answers.empty()) {
            for (std::string& piece : m_answers.front()) {
                m_incoming.push_back(std::move(piece));
            }
            m_answers.pop_front();
        }
        return StreamStatus::Ok;
    }

    StreamResult Receive(std::span<std::uint8_t> buffer, int /*timeoutMs*/,
                         platform::CEventHandle* stop) override {
        if (CallFails()) {
            return {StreamStatus::Failed, 0};
        }
        if (stop != nullptr && stop->IsSet()) {
            return {StreamStatus::Stopped, 0};
        }
        if (m_incoming.empty()) {
            return {m_closeWhenDrained ? StreamStatus::Closed : StreamStatus::Timeout, 0};
        }
        std::string& piece = m_incoming.front();
        const std::size_t count = std::min(buffer.size(), piece.size());
        std::copy_n(piece.begin(), count, buffer.begin());
        piece.erase(0, count);
        if (piece.empty()) {
            m_incoming.pop_front();
        }
        return {StreamStatus::Ok, count};
    }

    bool DiscardPending() override {
        m_incoming.clear();
        return m_open;
    }

private:
    bool CallFails() { return ++m_calls == m_failCall || !m_open; }

    std::deque<std::vector<std::string>> m_answers;
    std::deque<std::string> m_incoming;
    std::vector<std::string> m_requests;
    std::vector<std::string> m_connects;
    std::size_t m_calls = 0;
    std::size_t m_failCall = 0;
    bool m_closeWhenDrained = false;
    bool m_open = false;
};

} // namespace norvane::test
