#include "child_process.h"

#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace norvane::test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

CChildProcess::~CChildProcess() {
    Terminate();
}

bool CChildProcess::Start(const std::vector<std::string>& argv, const std::string& errorLog) {
    int fds[2];
    if (argv.empty() || ::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (errorLog.empty()) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        m_pid = -1;
        ::close(fds[0]);
        return false;
    }
    m_output = fds[0];
    return true;
}

bool CChildProcess::ReadSome(int timeoutMs) {
    if (m_output < 0) {
        return false;
    }
    pollfd fd{m_output, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[4096];
    const ssize_t got = ::read(m_output, chunk, sizeof(chunk));
    if (got <= 0) {
        ::close(m_output);
        m_output = -1;
        return false;
    }
    m_buffer.append(chunk, static_cast<std::size_t>(got));
    return true;
}

std::optional<std::string> CChildProcess::ReadLine(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return line;
        }
        if (!ReadSome(MillisecondsLeft(deadline))) {
            return std::nullopt;
        }
    }
}

int CChildProcess::Finish(int timeoutMs, std::string* output) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_output >= 0 && MillisecondsLeft(deadline) > 0) {
        ReadSome(MillisecondsLeft(deadline));
    }
    if (output != nullptr) {
        *output = m_buffer;
    }
    if (m_output >= 0) {
        Terminate(); // still printing at the deadline
        return -1;
    }
    return Wait();
}

int CChildProcess::Wait() {
    int status = 0;
    const pid_t pid = m_pid;
    m_pid = -1;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void CChildProcess::Terminate() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        Wait();
    }
    if (m_output >= 0) {
        ::close(m_output);
        m_output = -1;
    }
    m_buffer.clear(); // a later Start reads only its own process
}

int CChildProcess::Run(const std::vector<std::string>& argv, int timeoutMs, std::string* output) {
    CChildProcess process;
    if (!process.Start(argv)) {
        if (output != nullptr) {
            *output = "cannot start " + (argv.empty() ? std::string("(nothing)") : argv[0]);
        }
        return -1;
    }
    return process.Finish(timeoutMs, output);
}

} // namespace norvane::test
