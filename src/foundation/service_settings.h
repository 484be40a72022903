// ServiceSettings: what every settings window edits of its service besides
// the service's own tables: the port it listens on, whether it starts with
// the program, and whether it runs now (a new port waits for the next
// activation). Each service's panel target adds its own to this, and the
// service implements that target itself. It also knows the ports the
// program's other services are set to use, which this one's may not take.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

// A port that one of the program's services listens on, by its name in
// messages ("HTTP server").
struct ServicePortUse {
    std::string service;
    std::uint16_t port = 0;
};
using ServicePorts = std::vector<ServicePortUse>;

// A service's port and, when it is not 0, its port for TLS from the first byte.
inline ServicePorts portsOf(const char* service, std::uint16_t port, const char* tlsService, std::uint16_t tlsPort)
{
    ServicePorts ports{{service, port}};
    if (tlsPort != 0)
        ports.push_back({tlsService, tlsPort});
    return ports;
}

// The ports of two of the services: the ones the third may not take.
inline ServicePorts portsBesides(ServicePorts first, const ServicePorts& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class ServiceSettings {
public:
    virtual ~ServiceSettings() = default;
    virtual std::uint16_t port() const = 0;
    virtual void setPort(std::uint16_t port) = 0;
    virtual bool autostart() const = 0;
    virtual void setAutostart(bool on) = 0;
    virtual bool isActive() const = 0;

    // Who tells the ports of the program's other services (the program on
    // its live services, a task command from a stopped server's files);
    // without one there are none to check.
    void knowOtherPorts(std::function<ServicePorts()> ports) { otherPorts_ = std::move(ports); }
    virtual ServicePorts otherServicePorts() const { return otherPorts_ ? otherPorts_() : ServicePorts{}; }

private:
    std::function<ServicePorts()> otherPorts_;
};

} // namespace vantrel
