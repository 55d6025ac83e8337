#include "diagnose.h"

#include <cerrno>
#include <cstring>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::capture {
namespace {

// A socket closed when the scope ends.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}

    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    [[nodiscard]] int Get() const { return m_fd; }

private:
    int m_fd;
};

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd pfd{fd, events, 0};
    return ::poll(&pfd, 1, timeoutMs) == 1 && (pfd.revents & events) != 0;
}

} // namespace

CameraDiagnosis DiagnoseCamera(const std::string& host, std::uint16_t port, int timeoutMs) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        return CameraDiagnosis::Unreachable;
    }
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int connected =
            fd.Get() >= 0 ? ::connect(fd.Get(), found->ai_addr, found->ai_addrlen) : -1;
    ::freeaddrinfo(found);
    if (fd.Get() < 0 || (connected != 0 && errno != EINPROGRESS) ||
        !WaitFor(fd.Get(), POLLOUT, timeoutMs)) {
        return CameraDiagnosis::Unreachable;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        return CameraDiagnosis::Unreachable;
    }
    const std::string request =
            "GET /cgi-bin/action.fcgi?vtl_api=get_setup.system.info HTTP/1.1\r\n"
            "Host: " +
            host + "\r\nConnection: close\r\n\r\n";
    if (::send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return CameraDiagnosis::Unreachable;
    }
    std::string head;
    char buffer[512];
    while (head.find("\r\n") == std::string::npos && head.size() < 4096 &&
           WaitFor(fd.Get(), POLLIN, timeoutMs)) {
        const ssize_t got = ::recv(fd.Get(), buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(got));
    }
    if (head.rfind("HTTP/", 0) != 0 || head.size() < 12) {
        return head.empty() ? CameraDiagnosis::Unreachable : CameraDiagnosis::NotHttp;
    }
    return head.compare(9, 3, "401") == 0 ? CameraDiagnosis::NeedsCredentials
                                          : CameraDiagnosis::Answers;
}

} // namespace vantrel::capture
