// ServiceControl: what the main window needs of a service; MessagePrompt:
// the one seam through which every message box passes, so that tests answer
// them and a headless run answers them with defaults; FolderChooser: the
// folder selection window as the settings panels see it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

class ServiceControl {
public:
    virtual ~ServiceControl() = default;
    [[nodiscard]] virtual bool loadSettings() = 0;
    [[nodiscard]] virtual bool saveSettings() = 0;
    virtual bool autostart() const = 0;
    virtual bool isActive() const = 0;
    [[nodiscard]] virtual bool activate() = 0;
    virtual void deactivate() = 0;
    virtual int connectionCount() const = 0;
    virtual std::uint64_t totalBytesIn() const = 0;
    virtual std::uint64_t totalBytesOut() const = 0;
    // Once a second while active: roll the service's logs over.
    virtual void tick() = 0;
    // Open files the service may need with every session live and busy
    // (sockets, stop events, data connections, open files).
    virtual int descriptorsAtFullLoad() const { return 0; }
};

enum class PromptButtons {
    Ok,
    YesNo
};
enum class PromptIcon {
    None,
    Information,
    Warning,
    Error,
    Question
};
enum class PromptAnswer {
    Ok,
    Yes,
    No
};

class MessagePrompt {
public:
    virtual ~MessagePrompt() = default;
    virtual PromptAnswer show(std::string_view text, std::string_view title, PromptButtons buttons,
                              PromptIcon icon) = 0;
};

// The folder picker that the settings panels open from their Select
// buttons. `folder` holds the start folder in and the chosen one out; false
// when the operator cancelled (the folder is then unchanged).
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    virtual bool selectFolder(std::string& folder) = 0;
};

} // namespace vantrel
