// Construction of the program's services, in the order HTTP, email, FTP.
#include "shell/services.h"

namespace vantrel {

Services makeServices() {
    Services services;
    return services;
}

} // namespace vantrel
