// The mechanics the protocol test servers share: a higher descriptor
// limit, SIGTERM and SIGINT taken through a descriptor, and the loop that
// reads steering lines from stdin until stdin closes or a signal arrives.
#pragma once

#include <functional>
#include <string>

namespace vantrel::testing {

// Raises the open-file limit to its hard maximum, for many sessions at once.
void raiseDescriptorLimit();

// Blocks SIGTERM and SIGINT in this thread and every thread started after
// it; returns a signalfd that reports them.
int blockStopSignals();

// The start every test server shares, before any thread exists: works in
// `folder`, with "logs" and `serviceFolder` made there, and blocks the stop
// signals. Returns the stop-signal descriptor, or -1 when the folder cannot
// be entered (said on stderr).
int enterWorkFolder(const char* folder, const char* serviceFolder);

// Hands each line read from stdin (without its '\n') to onLine and flushes
// stdout after it. Returns when stdin closes or a stop signal arrives on
// stopSignals. With tickMs >= 0, onTick runs at least that often.
void serveCommands(int stopSignals, const std::function<void(const std::string&)>& onLine, int tickMs = -1,
                   const std::function<void()>& onTick = {});

} // namespace vantrel::testing
