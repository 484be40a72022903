// The three service objects of the program, built in one place. The main
// window sees them only as ServiceControl; a null member is a service that
// the program does not have (its group shows "Offline.").
#pragma once

#include "foundation/service_control.h"

#include <memory>

namespace vantrel {

struct Services {
    std::unique_ptr<ServiceControl> http;
    std::unique_ptr<ServiceControl> email;
    std::unique_ptr<ServiceControl> ftp;
};

// Each service opens its logs at number 0 when constructed.
Services makeServices();

} // namespace vantrel
