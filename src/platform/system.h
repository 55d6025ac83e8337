// Process and thread services of the operating system: names, ids, priorities, sleeping and the
// per-user start of the socket library.
#pragma once

#include <cstdint>
#include <string>

namespace norvane::platform {

class CEventHandle;

// ResolveIPv4 returns the first IPv4 address of `host` (name or dotted address) in network byte
// order, or 0 when the lookup fails. An empty name gives 0 without a lookup.
std::uint32_t ResolveIPv4(const std::string& host);

// ResolveIPv4Stoppable is ResolveIPv4 for a thread that must stay stoppable: a dotted address is
// read at once; a name is looked up on a helper thread while the caller waits for the answer,
// `stop` (may be null) or `timeoutMs` (negative: no limit). A lookup given up on is left to end
// by itself. 0 when the lookup fails, is stopped or times out.
std::uint32_t ResolveIPv4Stoppable(const std::string& host, CEventHandle* stop, int timeoutMs);

// ParseIPv4 reads a dotted IPv4 address (network byte order) without looking anything up; 0 for
// anything else.
std::uint32_t ParseIPv4(const std::string& host);

// FormatIPv4 writes an address in network byte order as dotted text ("192.0.2.10").
std::string FormatIPv4(std::uint32_t address);

// SetNameLookupForTesting replaces the system's name lookup behind both resolvers (dotted
// addresses never reach it); null restores the system's.
using NameLookup = std::uint32_t (*)(const std::string& host);
void SetNameLookupForTesting(NameLookup lookup);

// LocalHostName returns this machine's host name, or an empty string when it cannot be read.
std::string LocalHostName();

// CurrentThreadId returns a non-zero id of the calling thread.
std::uint32_t CurrentThreadId();

// ProcessorCount returns the number of processors (at least 1).
unsigned ProcessorCount();

// RaiseCurrentThreadPriority moves the calling thread one step above normal priority where the
// system allows it; failure is not an error.
void RaiseCurrentThreadPriority();

void SleepMs(std::uint32_t milliseconds);

// StartSockets and CleanupSockets bracket socket use on systems whose socket library must be
// started per user (version 2.2); elsewhere they do nothing and StartSockets returns true.
bool StartSockets();
void CleanupSockets();

} // namespace norvane::platform
