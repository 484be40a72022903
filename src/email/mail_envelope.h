// MailEnvelope: what one SMTP session has gathered about its message: who
// sent it from where, the local mailboxes and relay addresses it goes to,
// the addresses that were refused, and the file that holds the message.
// The receiving session fills it; screening, relaying and delivery read it.
#pragma once

#include "email/mailbox_transaction.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

struct MailEnvelope {
    static constexpr std::size_t MaxRecipients = 100;
    static constexpr std::size_t MaxText = 99;
    static constexpr std::size_t MaxClientIp = 19;

    std::string clientIp;
    std::string heloHost;  // empty until a greeting was accepted
    std::string sender;
    // One unlocked transaction per distinct local account, held from RCPT
    // until delivery; each goes back to the directory exactly once.
    std::vector<std::unique_ptr<MailboxTransaction>> localRecipients;
    std::vector<std::string> relayRecipients;
    // Addresses answered with 550 or 503; later ones are not recorded.
    std::vector<std::string> refusedRecipients;
    std::string messageFile;

    bool holdsUser(const std::string& user) const
    {
        for (const auto& recipient : localRecipients)
            if (recipient->user() == user)
                return true;
        return false;
    }
    void refuse(const std::string& address)
    {
        if (refusedRecipients.size() < MaxRecipients)
            refusedRecipients.push_back(address);
    }
};

} // namespace vantrel
