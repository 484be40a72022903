// MailCourier: a session thread that delivers queued mail. Every SMTP
// session is one, for the messages its client handed over, once the client
// has gone; the queue runner starts one for the messages it finds waiting
// (left by a stopped program, or copies to try again). The relay client
// reaches the relay host over the courier's own socket object, and the
// courier's idle limit ends a relay host that stalls.
#pragma once

#include "email/mail_tls_settings.h"
#include "foundation/service_session.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vantrel {

class MailDirectory;
class MailQueue;
class ServiceLog;
struct QueuedMail;

// What every courier of one email service shares.
struct CourierPost {
    MailDirectory& directory;
    ServiceLog& log;
    MailQueue& queue;
    std::uint16_t relayPort; // where the relay host listens
    std::uint32_t retryMs;   // wait before a failed copy is tried again
    // Set at the activation, while no courier runs.
    RelayTls relayTls = RelayTls::Off;
};

// Whether the mail may have reached some mailboxes before (a try that a
// stop or a failure cut short): its copies are then looked for first.
enum class DeliveryTry {
    First,
    Again
};

class MailCourier : public ServiceSession {
public:
    MailCourier(std::unique_ptr<LineSocket> control, const CourierPost& post);

    MailDirectory& directory() { return post_.directory; }
    ServiceLog& log() { return post_.log; }
    MailQueue& queue() { return post_.queue; }
    std::uint16_t relayPort() const { return post_.relayPort; }
    RelayTls relayTls() const { return post_.relayTls; }
    // The next reply line of the relay host, waiting at most timeoutMs when
    // that is not negative; see ServiceSession::nextLine.
    NextLine readReply(char* dest, std::size_t capacity, int timeoutMs = -1)
    {
        return nextLine(dest, capacity, timeoutMs);
    }

protected:
    // Takes the mail through screening, relaying and delivery; afterwards
    // it has left the queue, or waits there for its next try.
    void deliver(QueuedMail& mail, DeliveryTry attempt);

private:
    CourierPost post_;
};

} // namespace vantrel
