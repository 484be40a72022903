// ServiceSettings: what every settings window edits of its service besides
// the service's own tables: the port it listens on, whether it starts with
// the program, and whether it runs now (a new port waits for the next
// activation). Each service's panel target adds its own to this, and the
// service implements that target itself.
#pragma once

#include <cstdint>

namespace vantrel {

class ServiceSettings {
public:
    virtual ~ServiceSettings() = default;
    virtual std::uint16_t port() const = 0;
    virtual void setPort(std::uint16_t port) = 0;
    virtual bool autostart() const = 0;
    virtual void setAutostart(bool on) = 0;
    virtual bool isActive() const = 0;
};

} // namespace vantrel
