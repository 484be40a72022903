// QueueRunner: the email service's thread for mail that no session holds:
// what a stopped or killed program left in the queue (taken at once when
// the service starts) and copies that failed and wait for their next try.
// It hands what is due to a courier of its own, a session thread without a
// client, and keeps that courier to the same idle limit as any session.
#pragma once

#include "email/mail_courier.h"
#include "foundation/worker_thread.h"

#include <cstdint>

namespace vantrel {

class QueueRunner final : public WorkerThread {
public:
    QueueRunner(const CourierPost& post, std::uint32_t idleLimitMs);
    ~QueueRunner() override;

    // How its couriers relay; called while it does not run.
    void useRelayTls(RelayTls relayTls) { post_.relayTls = relayTls; }

protected:
    void run() override;

private:
    CourierPost post_;
    std::uint32_t idleLimitMs_;
};

} // namespace vantrel
