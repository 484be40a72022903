// MailEnvelope: what one SMTP transaction has gathered about its message:
// who sent it from where, the local accounts and relay addresses it goes
// to, the addresses that were refused, and the file that holds the message.
// The receiving session fills it; once the message is queued the envelope
// is fixed and travels with it through screening, relaying and delivery.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vantrel {

// A local account the message goes to, and the id its copy gets there. The
// id is made when the message is queued, so that a delivery tried again
// after a crash finds out whether the copy is already in the mailbox.
struct LocalRecipient {
    std::string user;
    std::string id;
};

struct MailEnvelope {
    static constexpr std::size_t MaxRecipients = 100;
    static constexpr std::size_t MaxText = 99;
    static constexpr std::size_t MaxClientIp = 19;

    std::string clientIp;
    std::string heloHost; // empty until a greeting was accepted
    std::string sender;
    // One entry per distinct local account.
    std::vector<LocalRecipient> localRecipients;
    std::vector<std::string> relayRecipients;
    // Addresses answered with 550 or 503; later ones are not recorded.
    std::vector<std::string> refusedRecipients;
    // Relay recipients the relay host did not take: the sender is owed the
    // "Mail Undelivered" notice for them, which gets the id below.
    std::vector<std::string> noticeRecipients;
    std::string noticeId;
    std::string messageFile;

    bool holdsUser(const std::string& user) const
    {
        for (const LocalRecipient& recipient : localRecipients)
            if (recipient.user == user)
                return true;
        return false;
    }
    void refuse(const std::string& address)
    {
        if (refusedRecipients.size() < MaxRecipients)
            refusedRecipients.push_back(address);
    }
    bool hasRecipients() const { return !localRecipients.empty() || !relayRecipients.empty(); }
    // Forgets the recipients: a new transaction begins.
    void clearRecipients()
    {
        localRecipients.clear();
        relayRecipients.clear();
        refusedRecipients.clear();
        noticeRecipients.clear();
        noticeId.clear();
    }
};

} // namespace vantrel
