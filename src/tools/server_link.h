// How vantrel-settings reaches a running server. It asks the control
// socket first; when nobody answers there it takes the server's
// single-instance lock, which proves that no server runs and keeps one
// from starting while the command works on the files. While the lock is
// held by a process that does not answer (a server still starting, or
// another command at work), it tries again for a while, so two commands
// run one after the other.
#pragma once

#include "foundation/control_channel.h"
#include "foundation/instance_lock.h"

#include <iosfwd>
#include <span>
#include <string>

namespace vantrel {

enum class LinkResult {
    Answered, // the running server answered: `reply`
    Stopped,  // no server runs; `lock` is held
    Failed,   // said why on `err`
};

// Tries again for up to waitMs while the lock's holder does not answer.
LinkResult askServer(std::span<const std::string> words, int waitMs, InstanceLock& lock, ControlReply& reply,
                     std::ostream& err);

} // namespace vantrel
