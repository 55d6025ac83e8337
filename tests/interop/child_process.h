// CChildProcess: a program the interop tests run as a peer or a tool (GStreamer's RTSP server
// script, ffmpeg), with its standard output on a pipe. The process is ended by its own id.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace norvane::test {

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Start runs `argv` (argv[0] a path) with its standard output on a pipe and its error output
    // appended to `errorLog`, or merged into the pipe when `errorLog` is empty.
    bool Start(const std::vector<std::string>& argv, const std::string& errorLog = "");

    // ReadLine returns the next output line, or nothing after `timeoutMs` or at the end.
    std::optional<std::string> ReadLine(int timeoutMs);

    // Finish reads the rest of the output until the process ends or `timeoutMs` passes (then it
    // is terminated), and returns the exit code (-1 when it did not exit normally).
    int Finish(int timeoutMs, std::string* output = nullptr);

    // Terminate sends SIGTERM and waits for the process.
    void Terminate();

    // Run runs a tool to its end: its exit code, with everything it printed in `output`.
    static int Run(const std::vector<std::string>& argv, int timeoutMs, std::string* output);

private:
    // Waits up to `timeoutMs` for output; false at the end of the output or the deadline.
    bool ReadSome(int timeoutMs);
    int Wait();

    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_buffer;
};

} // namespace norvane::test
