// The handlers of the folder, file and small commands of the command phase,
// and of PORT and PASV. The transfer commands are in ftp_transfer.h, the
// listings in ftp_listing.h.
#pragma once

#include "ftp/ftp_command.h"

namespace vantrel {

class FtpSession;

CommandOutcome handlePwd(FtpSession& session, const FtpCommand& command);
CommandOutcome handleCwd(FtpSession& session, const FtpCommand& command);
CommandOutcome handleMkd(FtpSession& session, const FtpCommand& command);
CommandOutcome handleRmd(FtpSession& session, const FtpCommand& command);
CommandOutcome handleRnfr(FtpSession& session, const FtpCommand& command);
CommandOutcome handleRnto(FtpSession& session, const FtpCommand& command);
CommandOutcome handleDele(FtpSession& session, const FtpCommand& command);
CommandOutcome handleSize(FtpSession& session, const FtpCommand& command);

CommandOutcome handleStat(FtpSession& session, const FtpCommand& command);
CommandOutcome handleSyst(FtpSession& session, const FtpCommand& command);
CommandOutcome handleHelp(FtpSession& session, const FtpCommand& command);
CommandOutcome handleType(FtpSession& session, const FtpCommand& command);
CommandOutcome handleStru(FtpSession& session, const FtpCommand& command);
CommandOutcome handleMode(FtpSession& session, const FtpCommand& command);
CommandOutcome handleQuit(FtpSession& session, const FtpCommand& command);
CommandOutcome handleNoop(FtpSession& session, const FtpCommand& command);

CommandOutcome handlePort(FtpSession& session, const FtpCommand& command);
CommandOutcome handlePasv(FtpSession& session, const FtpCommand& command);

} // namespace vantrel
