// LineSocket: CR LF line framing over a TcpSocket. Each readLine receives
// at most one 2048-byte chunk, so a command loop never blocks on the
// network; bytes behind a line stay buffered for the next call or for
// receiveSome.
#include "foundation/line_socket.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

std::size_t LineSocket::findLineEnd() const
{
    const std::size_t size = input_.size();
    std::size_t at = std::max(scanFrom_, start_);
    while (at + 1 < size) {
        const void* found = std::memchr(input_.data() + at, '\r', size - at - 1);
        if (found == nullptr) {
            break;
        }
        at = static_cast<std::size_t>(static_cast<const char*>(found) - input_.data());
        if (input_[at + 1] == '\n') {
            return at;
        }
        ++at;
    }
    return std::string::npos;
}

void LineSocket::consume(std::size_t count)
{
    start_ += count;
    if (start_ >= input_.size()) {
        input_.clear();
        start_ = 0;
        scanFrom_ = 0;
    } else if (start_ >= input_.size() / 2) {
        input_.erase(0, start_);
        scanFrom_ = scanFrom_ > start_ ? scanFrom_ - start_ : 0;
        start_ = 0;
    }
}

bool LineSocket::readLine(char* dest, std::size_t capacity)
{
    if (capacity < 2) {
        setLastError(SocketError::BufferTooSmall);
        return false;
    }
    dest[0] = '\0';

    std::size_t end = findLineEnd();
    if (end == std::string::npos) {
        char chunk[ReceiveChunk];
        std::size_t length = sizeof chunk;
        if (!receiveFromNetwork(chunk, length)) {
            return false;
        }
        if (length == 0) {
            setLastError(SocketError::NoLineYet);
            return false;
        }
        // Only the unscanned tail, plus a CR that may end the old bytes,
        // needs searching.
        scanFrom_ = input_.empty() ? 0 : std::max(start_, input_.size() - 1);
        input_.append(chunk, length);
        end = findLineEnd();
        if (end == std::string::npos) {
            if (input_.size() - start_ >= InputLimit) {
                // Nobody sends a command this long; stop buffering it.
                close();
                setLastError(SocketError::ConnectionLost);
                return false;
            }
            scanFrom_ = std::max(start_, input_.size() - 1);
            setLastError(SocketError::NoLineYet);
            return false;
        }
    }

    const std::size_t lineLength = end - start_;
    const std::size_t copied = std::min(lineLength, capacity - 1);
    std::memcpy(dest, input_.data() + start_, copied);
    dest[copied] = '\0';
    scanFrom_ = end + 2;
    consume(lineLength + 2);
    return true;
}

bool LineSocket::bufferInput()
{
    if (inputFull()) {
        return true;
    }
    char chunk[ReceiveChunk];
    std::size_t length = std::min(sizeof chunk, InputLimit - (input_.size() - start_));
    if (!receiveFromNetwork(chunk, length)) {
        return false;
    }
    input_.append(chunk, length);
    return true;
}

bool LineSocket::hasBufferedLine() const
{
    return findLineEnd() != std::string::npos;
}

bool LineSocket::receiveSome(void* buffer, std::size_t& length)
{
    if (!hasBufferedBytes()) {
        return TcpSocket::receiveSome(buffer, length);
    }
    const std::size_t count = std::min(length, input_.size() - start_);
    std::memcpy(buffer, input_.data() + start_, count);
    length = count;
    consume(count);
    return true;
}

bool LineSocket::unread(const void* bytes, std::size_t length)
{
    const std::size_t buffered = input_.size() - start_;
    if (length > UnreadLimit || buffered + length > InputLimit + UnreadLimit) {
        return false;
    }
    input_.erase(0, start_);
    input_.insert(0, static_cast<const char*>(bytes), length);
    start_ = 0;
    // The bytes handed back may hold line ends of their own.
    scanFrom_ = 0;
    return true;
}

void LineSocket::dropBufferedInput()
{
    input_.clear();
    start_ = 0;
    scanFrom_ = 0;
}

void LineSocket::close()
{
    TcpSocket::close();
    input_.clear();
    start_ = 0;
    scanFrom_ = 0;
}

} // namespace vantrel
