// Pop3Session: one connection on the POP3 port. Its thread greets, checks
// USER and PASS, holds the mailbox's login lock through a transaction,
// answers the mailbox commands and hands the transaction back at the end;
// marked messages are removed only after QUIT.
#pragma once

#include "foundation/service_session.h"

#include <memory>

namespace vantrel {

class MailDirectory;
class ServiceLog;

class Pop3Session final : public ServiceSession {
public:
    Pop3Session(std::unique_ptr<LineSocket> control, MailDirectory& directory, ServiceLog& log);
    ~Pop3Session() override;

protected:
    void serve() override;

private:
    MailDirectory& directory_;
    ServiceLog& log_;
};

} // namespace vantrel
