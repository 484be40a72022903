// PORT parsing, the PASV reply and the data socket's accept and connect.
#include "ftp/ftp_data_channel.h"

#include "foundation/text.h"

#include <algorithm>
#include <array>
#include <climits>

namespace vantrel {

namespace {

constexpr char PassiveFormat[] = "227 Entering Passive Mode (%s,%i,%i)";
constexpr int FirstUnprivilegedPort = 1024;

// One "%d" of the C library: blanks, a sign and digits. Values beyond an
// int are clamped, which keeps them out of 0 to 255.
bool readInteger(std::string_view text, std::size_t& pos, long& value)
{
    while (pos < text.size() && isSpace(text[pos]))
        ++pos;
    bool negative = false;
    std::size_t at = pos;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at >= text.size() || text[at] < '0' || text[at] > '9')
        return false;
    long magnitude = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        magnitude = std::min<long>(magnitude * 10 + (text[at] - '0'), INT_MAX);
        ++at;
    }
    value = negative ? -magnitude : magnitude;
    pos = at;
    return true;
}

} // namespace

PortParse parsePortArgument(std::string_view argument, PortTarget& target)
{
    std::string text(argument);
    std::replace(text.begin(), text.end(), ',', ' ');
    std::array<long, 6> numbers{};
    std::size_t pos = 0;
    for (long& number : numbers) {
        if (!readInteger(text, pos, number))
            return PortParse::TooFew;
    }
    if (std::any_of(numbers.begin(), numbers.end(), [](long n) { return n < 0 || n > 255; }))
        return PortParse::OutOfRange;
    const long port = numbers[4] * 256 + numbers[5];
    if (port < FirstUnprivilegedPort)
        return PortParse::BelowPrivileged;
    target.address = formatText(15, "%ld.%ld.%ld.%ld", numbers[0], numbers[1], numbers[2], numbers[3]);
    target.port = static_cast<std::uint16_t>(port);
    return PortParse::Ok;
}

std::string passiveReply(std::string_view localAddress, std::uint16_t port)
{
    const std::string address(localAddress);
    std::string reply = formatText(64, PassiveFormat, address.c_str(), port / 256, port % 256);
    std::replace(reply.begin(), reply.end(), '.', ',');
    return reply;
}

bool FtpDataChannel::ready() const
{
    return !portTarget_.address.empty() || socket_.state() != SocketState::Closed;
}

void FtpDataChannel::setPortTarget(PortTarget target)
{
    portTarget_ = std::move(target);
    socket_.close();
}

bool FtpDataChannel::listenPassive()
{
    socket_.close();
    if (!socket_.listenOn(0))
        return false;
    portTarget_ = PortTarget{};
    return true;
}

bool FtpDataChannel::acceptFrom(std::uint32_t peerIp)
{
    if (!isListening())
        return false;
    LineSocket arrived;
    if (!socket_.acceptInto(arrived))
        return false;
    if (arrived.peerIp() != peerIp) {
        arrived.shutdownAndClose();
        return false;
    }
    socket_.takeFrom(arrived);
    return true;
}

bool FtpDataChannel::connectToPortTarget(int stopEvent)
{
    return socket_.connectTo(portTarget_.address.c_str(), portTarget_.port, stopEvent);
}

} // namespace vantrel
