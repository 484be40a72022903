// ControlRequests: what the running program answers on its control socket:
// task commands applied to the live services, the status of the program
// and its services (as text or JSON), and each service's Activate /
// De-Activate. It runs on the thread that owns the services and the main
// window, between two of the window's own actions.
#pragma once

#include "foundation/control_channel.h"
#include "shell/main_window_logic.h"
#include "tools/task_tool.h"

#include <chrono>
#include <functional>
#include <span>
#include <string>

namespace vantrel {

class ControlRequests final {
public:
    // The window's button action for one direction (MainWindowLogic::switchService).
    using SwitchService = std::function<bool(ServiceKind kind, bool on, MessagePrompt& prompt)>;

    ControlRequests(ServicePointers services, LiveServices live, SwitchService switchService);

    ControlReply answer(std::span<const std::string> words);

private:
    ControlReply status(bool json) const;
    ControlReply switchService(const std::string& kind, bool on);

    ServicePointers services_;
    LiveServices live_;
    SwitchService switchService_;
    std::chrono::steady_clock::time_point started_;
};

} // namespace vantrel
