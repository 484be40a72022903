// The relay steps as they stand without a relay client; see smtp_relay.h.
#include "email/smtp_relay.h"

#include "email/mail_directory.h"
#include "email/mail_envelope.h"

namespace vantrel {

namespace {

constexpr bool RelayClientBuiltIn = false;

} // namespace

bool mayRelay(const MailDirectory& directory, const MailEnvelope& envelope)
{
    return RelayClientBuiltIn && directory.relayHostSet() && directory.relayAllowedFrom(envelope.clientIp) &&
           !directory.isLocalDomain(envelope.heloHost);
}

bool relayMessage(SmtpSession&, MailEnvelope&)
{
    return false;
}

bool sendUndeliveredNotice(SmtpSession&, MailEnvelope&)
{
    return false;
}

} // namespace vantrel
