#include "host_objects.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include <unistd.h>

#include "options.h"

namespace vantrel::capture {

namespace {

std::mutex& ConsoleMutex() {
    static std::mutex mutex;
    return mutex;
}

std::atomic<int>& VerbosityLevel() {
    static std::atomic<int> verbosity{kVerbosityNormal};
    return verbosity;
}

// TimeOfDay is the local time as HH:MM:SS.mmm.
std::string TimeOfDay() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis));
    return text;
}

} // namespace

bool ConsoleDebugSink::IsTerminal() {
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return terminal;
}

void ConsoleDebugSink::SetVerbosity(int verbosity) {
    VerbosityLevel().store(verbosity);
}

int ConsoleDebugSink::Verbosity() {
    return VerbosityLevel().load();
}

void ConsoleDebugSink::Print(const std::string& line) {
    const std::string stamped = TimeOfDay() + " " + line;
    std::lock_guard<std::mutex> guard(ConsoleMutex());
    std::fprintf(stderr, IsTerminal() ? "\r\033[K%s\n" : "%s\n", stamped.c_str());
}

void ConsoleDebugSink::Info(const std::string& line) {
    if (Verbosity() >= kVerbosityNormal) {
        Print(line);
    }
}

void ConsoleDebugSink::Detail(const std::string& line) {
    if (Verbosity() >= kVerbosityVerbose) {
        Print(line);
    }
}

void ConsoleDebugSink::Status(const std::string& line) {
    if (Verbosity() < kVerbosityNormal) {
        return;
    }
    if (!IsTerminal()) {
        Print(line);
        return;
    }
    std::lock_guard<std::mutex> guard(ConsoleMutex());
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}

void ConsoleDebugSink::OnDebugInfo(CDebugInfoIf* info) {
    const unsigned level = info->GetLevel();
    const std::string text = info->GetText() != nullptr ? info->GetText() : "";
    // HTTP and RTSP refusals of the credentials, as the driver words them.
    if (text.find("status code = 401") != std::string::npos ||
        text.find("(credentials refused)") != std::string::npos) {
        m_credentialsRefused = true;
    }
    if (text.find("cannot send request") != std::string::npos) {
        m_unreachable = true;
    }
    if (level == 1 || level == 3) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_lastError = text;
    }
    if (m_observer) {
        m_observer(level, text);
    }
    static const char* const kNames[] = {"", "error", "info", "not sent"};
    const std::string line =
            std::string("[driver ") + (level <= 3 ? kNames[level] : "?") + "] " + text;
    if (level == 2) {
        Detail(line);
    } else {
        Print(line);
    }
}

std::string ConsoleDebugSink::LastError() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_lastError;
}

norvane::IHostSample* PoolAllocator::AllocateSample(uint32_t fourcc, uint32_t capacity,
                                                    const char* /*driverName*/) {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::unique_ptr<Sample> sample;
    if (!m_free.empty()) {
        sample = std::move(m_free.back());
        m_free.pop_back();
    } else {
        sample = std::make_unique<Sample>();
    }
    if (sample->buffer.size() < capacity) {
        sample->buffer.resize(capacity);
    }
    sample->length = 0;
    sample->fourcc = fourcc;
    sample->width = sample->height = sample->imageSize = 0;
    sample->committed = false;
    m_busy.push_back(std::move(sample));
    return m_busy.back().get();
}

void PoolAllocator::ReleaseSample(norvane::IHostSample* sample) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = std::find_if(m_busy.begin(), m_busy.end(),
                                    [&](const auto& busy) { return busy.get() == sample; });
    if (found == m_busy.end()) {
        return;
    }
    m_free.push_back(std::move(*found));
    m_busy.erase(found);
}

const char* OpenParams::GetParameter(uint32_t index) {
    if (index == 0 || index > parameters.size()) {
        return nullptr;
    }
    return parameters[index - 1].c_str();
}

bool FrameSink::OnFrame(norvane::IHostSample* hostSample) {
    auto* sample = static_cast<Sample*>(hostSample);
    const auto length = static_cast<std::uint32_t>(
            std::min<std::size_t>(sample->length, sample->buffer.size()));
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_frameLimit != 0 && m_stats.frames.load() >= m_frameLimit) {
        return true;
    }
    if (!m_writer.Write(sample->fourcc, sample->buffer.data(), length)) {
        m_stats.writeFailed = true;
        return false;
    }
    ++m_stats.frames;
    if (sample->fourcc == norvane::kFourCCH264 || sample->fourcc == norvane::kFourCCH265 ||
        sample->fourcc == norvane::kFourCCJpeg) {
        ++m_stats.keyFrames;
    }
    m_stats.bytes += length;
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
    if (m_stats.firstFrameNs.load() == 0) {
        m_stats.firstFrameNs = now;
    }
    m_stats.lastFrameNs = now;
    m_stats.width = sample->width;
    m_stats.height = sample->height;
    if (m_frameLimit != 0 && m_stats.frames.load() >= m_frameLimit) {
        m_stats.SignalLimit();
    }
    return true;
}

void IOCallback::OnInputChanged(uint32_t input, uint32_t state) {
    ++changes;
    const char* text = state == 2 ? "active" : state == 1 ? "inactive" : "unknown";
    ConsoleDebugSink::Print("[io] input " + std::to_string(input) + " is " + text);
}

void IOCallback::OnIOFailure() {
    ++failures;
    ConsoleDebugSink::Print("[io] the camera's I/O request failed");
}

} // namespace vantrel::capture
