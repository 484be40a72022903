// MailCourier: the shared part of the sessions that deliver queued mail.
#include "email/mail_courier.h"

#include "email/smtp_delivery.h"

namespace vantrel {

MailCourier::MailCourier(std::unique_ptr<LineSocket> control, const CourierPost& post)
    : ServiceSession(std::move(control)), post_(post)
{
}

void MailCourier::deliver(QueuedMail& mail, DeliveryTry attempt)
{
    deliverQueued(*this, mail, attempt, post_.retryMs);
}

} // namespace vantrel
