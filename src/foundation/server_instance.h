// The name of the single-instance lock that a running server holds for its
// whole life (see InstanceLock). Tools that change the server's settings
// files take the same lock, so that neither runs while the other works.
#pragma once

namespace vantrel {

constexpr char ServerInstanceName[] = "QUORVELL_LABS_VANTREL_SERVER";

} // namespace vantrel
