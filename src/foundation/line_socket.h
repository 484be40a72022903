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
    bool hasBufferedBytes() const { return !input_.empty(); }

private:
    std::string input_;
};

} // namespace vantrel
