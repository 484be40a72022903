// LineSocket: a TcpSocket with an input buffer that hands out CR LF
// terminated lines. Bytes already buffered are served first by receiveSome,
// so data that arrived behind a command line is never lost.
#pragma once

#include "foundation/tcp_socket.h"

#include <cstddef>
#include <string>

namespace vantrel {

class LineSocket : public TcpSocket {
public:
    static constexpr std::size_t ReceiveChunk = 2048;
    // A line that grows this long without CR LF closes the connection.
    static constexpr std::size_t InputLimit = 64 * 1024;
    // Most bytes one unread may hand back, beyond what is already buffered.
    static constexpr std::size_t UnreadLimit = 8 * 1024;

    LineSocket() = default;

    // Copies the next line without its CR LF into dest (cut to capacity - 1,
    // zero-terminated). False with NoLineYet when no complete line is here yet,
    // with ConnectionLost (socket closed) when the peer went away.
    bool readLine(char* dest, std::size_t capacity);
    bool receiveSome(void* buffer, std::size_t& length) override;
    void close() override;

    // True when a complete line already waits in the buffer, so a caller
    // must not block waiting for the network.
    bool hasBufferedLine() const;
    bool hasBufferedBytes() const { return input_.size() > start_; }
    // Moves what has arrived into the buffer without handing out a line,
    // so that a wait elsewhere can notice the peer going away. False when
    // the peer went away (the socket is then closed). Takes nothing once
    // InputLimit bytes wait: inputFull() then tells the caller to stop
    // watching the socket.
    bool bufferInput();
    bool inputFull() const { return input_.size() - start_ >= InputLimit; }

    // Puts bytes taken with receiveSome back in front of the buffered input,
    // so that the next readLine or receiveSome starts with them (a protocol
    // that read past the end of a data block hands back the commands behind
    // it). False, with nothing changed, when more than UnreadLimit bytes are
    // given or the buffer would exceed InputLimit + UnreadLimit.
    [[nodiscard]] bool unread(const void* bytes, std::size_t length);

protected:
    // Clear bytes that came behind the command that started TLS are never
    // read as commands.
    void dropBufferedInput() override;

private:
    std::size_t findLineEnd() const;
    void consume(std::size_t count);

    // Bytes before start_ have been handed out; they are dropped in bulk
    // once they make up half the buffer, so many short lines cost linear time.
    std::string input_;
    std::size_t start_ = 0;
    // No CR LF begins before this position (a partial line is not rescanned).
    std::size_t scanFrom_ = 0;
};

} // namespace vantrel
