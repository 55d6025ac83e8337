// CRTCPReporter answers the camera's RTCP for one RTP session (RFC 3550, section 6) so that the
// camera sees a live receiver: for each report from the camera it sends back a receiver report and
// a source description with the local host name as CNAME, and a BYE when it stops. The receiver
// report carries the channel's reception statistics (loss since the last report, cumulative loss,
// highest sequence number, jitter) and the time since the camera's last sender report, so that a
// camera that adapts its rate to loss can do so. Only datagrams from the camera's address are
// answered or obeyed.
//
// Threads: Open, Start, RequestStop and Stop run on the RTSP channel's thread; Run is the
// reporter's own thread. The stop flag and the running flag are atomics. Owned by the channel.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "platform/event_handle.h"
#include "platform/socket.h"
#include "rtp/rtp_reorder_window.h"

namespace norvane {

constexpr std::size_t kRtcpAnswerSize = 68; // receiver report (32) + source description (36)
constexpr std::size_t kRtcpByeSize = 8;
constexpr std::size_t kRtcpCnameCapacity = 25; // CNAME bytes the SDES carries before its end item

// The reception report block of a receiver report (RFC 3550, section 6.4.1), in host order.
struct RtcpReportBlock {
    std::uint8_t fractionLost = 0;      // since the last report, in 1/256
    std::int32_t cumulativeLost = 0;    // sent as 24 bits, clamped
    std::uint32_t extendedHighest = 0;  // highest sequence number with its wrap count
    std::uint32_t jitter = 0;           // timestamp units
    std::uint32_t lastSr = 0;           // middle 32 bits of the last SR's NTP time; 0 without
    std::uint32_t delaySinceLastSr = 0; // in 1/65536 s; 0 without an SR
};

// MakeReportBlock fills a report block from the reception counts now and at the last report.
[[nodiscard]] RtcpReportBlock MakeReportBlock(const RtpReceptionCounters& lastReport,
                                              const RtpReceptionCounters& now);

// BuildRtcpAnswer builds the receiver report and source description sent for one datagram from the
// camera, with `block` as its report. The sender's SSRC is copied from `received` where it carries
// it; missing bytes are sent as zero. `cname` is cut to kRtcpCnameCapacity bytes.
std::array<std::uint8_t, kRtcpAnswerSize> BuildRtcpAnswer(std::span<const std::uint8_t> received,
                                                          std::uint32_t ssrc,
                                                          const RtcpReportBlock& block,
                                                          std::string_view cname);

// BuildRtcpBye builds the BYE of `ssrc` (RFC 3550, section 6.6).
std::array<std::uint8_t, kRtcpByeSize> BuildRtcpBye(std::uint32_t ssrc);

// IsRtcpGoodbye is true for a well-formed RTCP datagram (version 2 packets whose lengths tile it
// exactly) that carries a BYE, alone or in a compound packet.
bool IsRtcpGoodbye(std::span<const std::uint8_t> datagram);

class CRTCPReporter {
public:
    // `cameraAddress`: the camera's IPv4 address in network byte order (see SetCameraAddress).
    // `reception`: the channel's statistics the reports carry (null: reports of nothing received);
    // it must outlive the reporter.
    explicit CRTCPReporter(std::uint32_t cameraAddress = 0,
                           const CRtpReceptionStats* reception = nullptr);
    ~CRTCPReporter();
    CRTCPReporter(const CRTCPReporter&) = delete;
    CRTCPReporter& operator=(const CRTCPReporter&) = delete;

    // SetCameraAddress names the only sender (network byte order) whose datagrams are answered and
    // whose BYE ends the reporter; 0 answers nobody. Call before Start.
    void SetCameraAddress(std::uint32_t address) { m_cameraAddress.store(address); }

    // Open binds the RTCP socket to `port` on every local address, chooses the SSRC and the CNAME.
    // False when the socket cannot be created, bound or configured.
    [[nodiscard]] bool Open(std::uint16_t port);

    // UseConnection prepares the reporter for RTCP that arrives inside the RTSP connection: it
    // chooses the SSRC and the CNAME and opens no socket; Answer then builds what goes back.
    void UseConnection();

    // Answer decides what one RTCP packet from `from` earns: the receiver report and source
    // description to send back, or nothing when it is not the camera's, too short for a report,
    // or a BYE (which ends the reporter: later packets earn nothing). Called on one thread at a
    // time: the reporter's own, or the thread that reads the connection.
    [[nodiscard]] std::optional<std::array<std::uint8_t, kRtcpAnswerSize>>
    Answer(std::span<const std::uint8_t> packet, const platform::SocketAddress& from);

    // CameraHeard tells whether a packet from the camera was answered or obeyed, so that leaving
    // owes it a BYE.
    [[nodiscard]] bool CameraHeard() const { return m_cameraHeard.load(); }

    // Start runs Run on a new thread; false when it is already started or cannot be created.
    [[nodiscard]] bool Start();

    // Run is the thread body: answer the camera's datagrams until a stop is requested, the camera
    // sends a BYE, or the socket fails; then send a BYE to the camera (if it was heard) and close
    // the socket. A datagram of 10 bytes or fewer that is not a BYE is dropped unanswered.
    void Run();

    // RequestStop asks the thread to end; its wait on the socket ends at once.
    void RequestStop();

    // Stop waits at most 10 s for the thread to end: true when it ended or was never started.
    [[nodiscard]] bool Stop();

    [[nodiscard]] std::uint32_t Ssrc() const { return m_ssrc; }

    [[nodiscard]] std::string_view Cname() const { return {m_cname.data(), m_cnameLength}; }

    [[nodiscard]] bool IsRunning() const { return m_threadRunning.load(); }

    [[nodiscard]] platform::SocketError LastError() const { return m_lastError.load(); }

    // LocalPort is the bound RTCP port; call it before Start (the thread owns the socket after).
    [[nodiscard]] std::uint16_t LocalPort() const { return m_socket.LocalPort(); }

private:
    std::atomic<platform::SocketError> m_lastError{platform::SocketError::None};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_threadRunning{false};
    std::atomic<bool> m_cameraHeard{false};
    std::atomic<std::uint32_t> m_cameraAddress;
    platform::CSocket m_socket;
    std::uint32_t m_ssrc = 0;
    std::thread m_thread;
    std::unique_ptr<platform::CEventHandle> m_stopEvent;  // set by RequestStop
    std::unique_ptr<platform::CEventHandle> m_endedEvent; // set when Run returns
    const CRtpReceptionStats* m_reception;
    // The answering thread's (the reporter's own, or the connection's reader): the counts at the
    // last report, and the camera's last sender report with its arrival.
    RtpReceptionCounters m_lastReport;
    std::uint32_t m_lastSr = 0;
    std::uint64_t m_lastSrMs = 0;
    void ChooseIdentity();

    std::array<char, 128> m_cname{};
    std::size_t m_cnameLength = 0;
};

} // namespace norvane
