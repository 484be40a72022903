// TlsConnection: the TLS state of one TcpSocket, kept apart so that a
// socket without TLS costs one null pointer. It speaks TLS over the
// socket's non-blocking descriptor; each call does what can be done now
// and reports the rest as "nothing yet", as the socket's own calls do.
#pragma once

#include "foundation/tls_context.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct ssl_st;

namespace vantrel {

// What one step of a TLS call came to.
enum class TlsOutcome {
    Done,      // the step finished (bytes moved, handshake complete)
    WantRead,  // nothing now: wait until the descriptor is readable
    WantWrite, // nothing now: wait until the descriptor is writable
    Closed,    // the peer ended the stream
    Failed     // a protocol error or a reset: the connection is unusable
};

class TlsConnection final {
public:
    // What the paths through memory move per call, at most: four full TLS
    // records, and no more than an empty pipe holds.
    static constexpr std::size_t StageSize = 64 * 1024;
    static constexpr std::size_t PageSize = 4096;

    // Null when the library cannot set up a connection.
    static std::unique_ptr<TlsConnection> serverOn(int descriptor, std::shared_ptr<const TlsContext> context,
                                                   const TlsScope& scope);
    // The client side, for `hostName` (sent as the server name, and the
    // name the peer's certificate must carry to count as verified).
    static std::unique_ptr<TlsConnection> clientOn(int descriptor, std::shared_ptr<const TlsContext> context,
                                                   const char* hostName);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    TlsOutcome handshake();
    bool established() const { return established_; }
    bool resumed() const;
    bool usable() const { return !broken_; }
    // The peer's certificate chained to a trusted authority and named the
    // host (client side).
    bool peerVerified() const;
    // "TLSv1.3 TLS_AES_128_GCM_SHA256": the protocol and cipher in use.
    const char* versionName() const;
    const char* cipherName() const;

    // `length`: bytes offered or room in, bytes moved out.
    TlsOutcome write(const void* bytes, std::size_t& length);
    TlsOutcome read(void* buffer, std::size_t& length);
    // The same into an empty pipe, which must be drained before the next
    // call (it refers to this connection's buffer): at most StageSize bytes,
    // which an empty pipe always takes whole. `pipeError` is set when the
    // pipe refused them.
    TlsOutcome readIntoPipe(int pipeWriteEnd, std::size_t& length, int& pipeError);
    // Sends up to `length` bytes of `file` from `offset`: by the kernel when
    // it encrypts for us, otherwise staged through memory. A staged record
    // the socket could not take whole is offered again by the next call,
    // which the caller makes with the same offset.
    TlsOutcome sendFile(int file, std::uint64_t offset, std::size_t& length, bool& fileEnded);
    // Decrypted bytes already waiting inside the library.
    bool hasPendingInput() const;
    // Sends the closing alert, once, without waiting for the peer's.
    void sendCloseNotify();
    // Whether the kernel encrypts what this connection sends.
    bool kernelSends() const;

private:
    TlsConnection(ssl_st* ssl, std::shared_ptr<const TlsContext> context);
    // A connection on the descriptor, set up as a server or a client by
    // `setUp`; null when any step fails.
    static std::unique_ptr<TlsConnection> on(int descriptor, std::shared_ptr<const TlsContext> context,
                                             const std::function<bool(ssl_st*)>& setUp);
    TlsOutcome outcomeOf(int result);

    ssl_st* ssl_;
    // Holds the context's settings alive for as long as the connection.
    std::shared_ptr<const TlsContext> context_;
    bool established_ = false;
    bool broken_ = false;
    bool closeSent_ = false;
    // The staged file bytes of the last sendFile that the socket did not take.
    std::unique_ptr<unsigned char[]> stage_;
    // Page-aligned, so that StageSize bytes take StageSize / 4096 of the
    // pipe's page slots when handed over by reference.
    struct PageFree {
        void operator()(unsigned char* p) const;
    };
    std::unique_ptr<unsigned char, PageFree> inbound_;
    std::uint64_t stagedOffset_ = 0;
    std::size_t stagedLength_ = 0;
};

} // namespace vantrel
