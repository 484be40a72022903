// SmtpSession: one connection on the SMTP port. Its thread runs the HELO /
// MAIL / RCPT / DATA dialogue into a temporary message file, and once the
// connection has ended screens the message and delivers it into the local
// mailboxes, writing one line to the SMTP log.
#pragma once

#include "foundation/service_session.h"

#include <memory>

namespace vantrel {

class MailDirectory;
class ServiceLog;

class SmtpSession final : public ServiceSession {
public:
    SmtpSession(std::unique_ptr<LineSocket> control, MailDirectory& directory, ServiceLog& log);
    ~SmtpSession() override;

protected:
    void serve() override;

private:
    MailDirectory& directory_;
    ServiceLog& log_;
};

} // namespace vantrel
