// Windows backend of the clocks and the process and thread services.
// winsock2.h must come before windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "platform/clock.h"
#include "platform/system.h"

namespace norvane::platform {

std::uint64_t UtcNow100ns() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::uint64_t MonotonicMs() {
    return ::GetTickCount64();
}

std::uint64_t MonotonicUs() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    if (!::QueryPerformanceFrequency(&frequency) || !::QueryPerformanceCounter(&counter) ||
        frequency.QuadPart <= 0) {
        return ::GetTickCount64() * 1000;
    }
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
}

std::string LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::uint32_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

unsigned ProcessorCount() {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors == 0 ? 1 : info.dwNumberOfProcessors;
}

void RaiseCurrentThreadPriority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

void SleepMs(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

bool StartSockets() {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void CleanupSockets() {
    ::WSACleanup();
}

} // namespace norvane::platform
