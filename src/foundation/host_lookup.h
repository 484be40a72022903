// Looking up a host's IPv4 address. The system's lookup blocks and cannot
// be interrupted; a caller that must honour a stop request passes its stop
// event, and the lookup then runs on a short-lived thread of its own that
// the caller stops waiting for once the event is signalled.
#pragma once

#include <netinet/in.h>

namespace vantrel {

enum class LookupResult {
    Found,
    NotFound,
    Stopped
};

// A dotted address is taken as it is. stopEvent: a descriptor readable once
// a stop is requested, or -1 to wait for the answer whatever happens.
LookupResult lookUpHost(const char* host, in_addr& address, int stopEvent = -1);

} // namespace vantrel
