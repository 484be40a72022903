// CAPA lists what the server does and nothing else: USER, TOP and UIDL,
// and STLS while it may still be used (before TLS, before login). STLS
// answers "+OK" in clear and then shakes hands; bytes the client sent
// behind it in clear are dropped as TLS starts. The mailbox's login lock
// is untouched by all of this: only a successful PASS takes it.
#include "email/pop3_tls.h"

#include "email/mail_tls.h"
#include "email/pop3_replies.h"
#include "email/pop3_session.h"
#include "foundation/text.h"

#include <string>

namespace vantrel::pop3 {

namespace {

constexpr std::string_view CapaWord = "capa";
constexpr std::string_view StlsWord = "stls";

TlsLine answered(bool sent)
{
    return sent ? TlsLine::Answered : TlsLine::Lost;
}

TlsLine handleCapa(Pop3Session& session, Phase phase)
{
    std::string list = std::string(CapabilitiesFollow) + LineEnd + Capabilities + LineEnd;
    if (phase == Phase::Authorization && !session.control().isTls())
        list += std::string(CapabilityStls) + LineEnd;
    list += std::string(ListEnd) + LineEnd;
    return answered(session.sendBytes(list));
}

TlsLine handleStls(Pop3Session& session, Phase phase)
{
    if (phase == Phase::Transaction)
        return answered(session.reply(StlsAfterLogin));
    if (session.control().isTls())
        return answered(session.reply(TlsAlreadyActive));
    std::shared_ptr<const TlsContext> context = mailTlsContext(session.tls());
    if (!context)
        return answered(session.reply(TlsNotAvailable));
    if (!session.reply(StlsReady))
        return TlsLine::Lost;
    return secureMailSession(session, session.log(), std::move(context)) ? TlsLine::Secured : TlsLine::Lost;
}

} // namespace

TlsLine dispatchTlsLine(Pop3Session& session, std::string_view line, Phase phase)
{
    const std::string_view word = trimText(line);
    if (equalsIgnoreCase(word, CapaWord))
        return handleCapa(session, phase);
    if (equalsIgnoreCase(word, StlsWord))
        return handleStls(session, phase);
    return TlsLine::NotTls;
}

bool refuseClearLogin(Pop3Session& session)
{
    if (session.tls().settings.mode != TlsMode::Require || session.control().isTls())
        return false;
    session.reply(TlsRequired);
    return true;
}

} // namespace vantrel::pop3
