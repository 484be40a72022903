// TlsConnection over OpenSSL 3 on a non-blocking descriptor. The library's
// "want read/write" results become waits for the caller; its errors are
// cleared from the thread's error queue so that one connection's failure
// never shows up in another's.
#include "foundation/tls_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <new>

namespace vantrel {

namespace {

bool isAddressLiteral(const char* host)
{
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

} // namespace

std::unique_ptr<TlsConnection> TlsConnection::on(int descriptor, std::shared_ptr<const TlsContext> context,
                                                 const std::function<bool(ssl_st*)>& setUp)
{
    if (!context)
        return nullptr;
    SSL* ssl = SSL_new(context->native());
    if (ssl == nullptr || SSL_set_fd(ssl, descriptor) != 1 || !setUp(ssl)) {
        SSL_free(ssl);
        ERR_clear_error();
        return nullptr;
    }
    return std::unique_ptr<TlsConnection>(new TlsConnection(ssl, std::move(context)));
}

std::unique_ptr<TlsConnection> TlsConnection::serverOn(int descriptor, std::shared_ptr<const TlsContext> context,
                                                       const TlsScope& scope)
{
    return on(descriptor, std::move(context), [&scope](SSL* ssl) {
        SSL_set_accept_state(ssl);
        if (!scope.resumable && SSL_set_num_tickets(ssl, 0) != 1)
            return false;
        return SSL_set_session_id_context(ssl, scope.bytes, static_cast<unsigned int>(TlsScope::Size)) == 1;
    });
}

std::unique_ptr<TlsConnection> TlsConnection::clientOn(int descriptor, std::shared_ptr<const TlsContext> context,
                                                       const char* hostName)
{
    return on(descriptor, std::move(context), [hostName](SSL* ssl) {
        SSL_set_connect_state(ssl);
        // An address is checked against the certificate's addresses and is
        // never sent as a server name, which must be a DNS name.
        if (isAddressLiteral(hostName))
            return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), hostName) == 1;
        return SSL_set_tlsext_host_name(ssl, hostName) == 1 && SSL_set1_host(ssl, hostName) == 1;
    });
}

bool TlsConnection::peerVerified() const
{
    return established_ && SSL_get0_peer_certificate(ssl_) != nullptr && SSL_get_verify_result(ssl_) == X509_V_OK;
}

const char* TlsConnection::versionName() const
{
    return SSL_get_version(ssl_);
}

const char* TlsConnection::cipherName() const
{
    return SSL_get_cipher_name(ssl_);
}

TlsConnection::TlsConnection(ssl_st* ssl, std::shared_ptr<const TlsContext> context)
    : ssl_(ssl), context_(std::move(context))
{
}

TlsConnection::~TlsConnection()
{
    SSL_free(ssl_);
}

TlsOutcome TlsConnection::outcomeOf(int result)
{
    const int error = SSL_get_error(ssl_, result);
    const int systemError = errno;
    ERR_clear_error();
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return TlsOutcome::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return TlsOutcome::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        // The peer's closing alert: an orderly end, and we may still send ours.
        return TlsOutcome::Closed;
    case SSL_ERROR_SYSCALL:
        broken_ = true;
        if (systemError == EAGAIN || systemError == EINTR)
            return TlsOutcome::WantRead;
        // A plain end of the stream without an alert still ends it cleanly
        // for the protocols here, which know their own lengths or end
        // with the close.
        return systemError == 0 ? TlsOutcome::Closed : TlsOutcome::Failed;
    default:
        broken_ = true;
        return TlsOutcome::Failed;
    }
}

TlsOutcome TlsConnection::handshake()
{
    if (broken_)
        return TlsOutcome::Failed;
    const int result = SSL_do_handshake(ssl_);
    if (result == 1) {
        established_ = true;
        return TlsOutcome::Done;
    }
    const TlsOutcome outcome = outcomeOf(result);
    if (outcome == TlsOutcome::Closed) {
        broken_ = true;
        return TlsOutcome::Failed;
    }
    return outcome;
}

bool TlsConnection::resumed() const
{
    return established_ && SSL_session_reused(ssl_) == 1;
}

TlsOutcome TlsConnection::write(const void* bytes, std::size_t& length)
{
    const std::size_t offered = length;
    length = 0;
    if (broken_ || !established_)
        return TlsOutcome::Failed;
    if (offered == 0)
        return TlsOutcome::Done;
    std::size_t written = 0;
    const int result = SSL_write_ex(ssl_, bytes, offered, &written);
    if (result == 1) {
        length = written;
        return TlsOutcome::Done;
    }
    const TlsOutcome outcome = outcomeOf(result);
    return outcome == TlsOutcome::Closed ? TlsOutcome::Failed : outcome;
}

TlsOutcome TlsConnection::read(void* buffer, std::size_t& length)
{
    const std::size_t room = length;
    length = 0;
    if (broken_ || !established_)
        return TlsOutcome::Failed;
    if (room == 0)
        return TlsOutcome::Done;
    std::size_t got = 0;
    const int result = SSL_read_ex(ssl_, buffer, room, &got);
    if (result == 1) {
        length = got;
        return TlsOutcome::Done;
    }
    return outcomeOf(result);
}

void TlsConnection::PageFree::operator()(unsigned char* p) const
{
    ::operator delete(p, std::align_val_t(PageSize));
}

TlsOutcome TlsConnection::readIntoPipe(int pipeWriteEnd, std::size_t& length, int& pipeError)
{
    pipeError = 0;
    if (!inbound_)
        inbound_.reset(static_cast<unsigned char*>(::operator new(StageSize, std::align_val_t(PageSize))));
    // The records already here, up to what the empty pipe holds.
    const std::size_t room = length < StageSize ? length : StageSize;
    std::size_t got = 0;
    length = 0;
    while (got < room) {
        std::size_t count = room - got;
        const TlsOutcome outcome = read(inbound_.get() + got, count);
        if (outcome != TlsOutcome::Done) {
            if (got == 0)
                return outcome;
            break; // the end or the wait is told by the next call
        }
        got += count;
        if (SSL_has_pending(ssl_) != 1)
            break;
    }
    // The pipe takes the buffer's pages by reference rather than a copy of
    // them: the caller drains the pipe before the next call refills them.
    std::size_t done = 0;
    while (done < got) {
        iovec piece{inbound_.get() + done, got - done};
        const ssize_t put = ::vmsplice(pipeWriteEnd, &piece, 1, SPLICE_F_NONBLOCK);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            pipeError = put < 0 ? errno : EIO;
            broken_ = true;
            return TlsOutcome::Failed;
        }
        done += static_cast<std::size_t>(put);
    }
    length = got;
    return TlsOutcome::Done;
}

bool TlsConnection::kernelSends() const
{
    return BIO_get_ktls_send(SSL_get_wbio(ssl_)) != 0;
}

TlsOutcome TlsConnection::sendFile(int file, std::uint64_t offset, std::size_t& length, bool& fileEnded)
{
    fileEnded = false;
    const std::size_t wanted = length;
    length = 0;
    if (broken_ || !established_)
        return TlsOutcome::Failed;
    if (wanted == 0)
        return TlsOutcome::Done;
    if (kernelSends() && stagedLength_ == 0) {
        const ossl_ssize_t sent = SSL_sendfile(ssl_, file, static_cast<off_t>(offset), wanted, 0);
        if (sent > 0) {
            length = static_cast<std::size_t>(sent);
            return TlsOutcome::Done;
        }
        if (sent == 0) {
            fileEnded = true;
            return TlsOutcome::Done;
        }
        const TlsOutcome outcome = outcomeOf(static_cast<int>(sent));
        return outcome == TlsOutcome::Closed ? TlsOutcome::Failed : outcome;
    }
    // Staged: read one record's worth, and offer exactly those bytes again
    // until the library has taken them (it requires the same bytes after a
    // "want write").
    if (stagedLength_ == 0 || stagedOffset_ != offset) {
        if (!stage_)
            stage_.reset(new unsigned char[StageSize]);
        const std::size_t chunk = wanted < StageSize ? wanted : StageSize;
        ssize_t got;
        do {
            got = ::pread(file, stage_.get(), chunk, static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            broken_ = true;
            return TlsOutcome::Failed;
        }
        if (got == 0) {
            fileEnded = true;
            return TlsOutcome::Done;
        }
        stagedOffset_ = offset;
        stagedLength_ = static_cast<std::size_t>(got);
    }
    // One record per write; as many as the socket takes now.
    std::size_t sent = 0;
    while (sent < stagedLength_) {
        std::size_t written = 0;
        const int result = SSL_write_ex(ssl_, stage_.get() + sent, stagedLength_ - sent, &written);
        if (result == 1) {
            sent += written;
            continue;
        }
        const TlsOutcome outcome = outcomeOf(result);
        if (sent == 0)
            return outcome == TlsOutcome::Closed ? TlsOutcome::Failed : outcome;
        if (outcome != TlsOutcome::WantRead && outcome != TlsOutcome::WantWrite)
            return TlsOutcome::Failed;
        // The record the socket could not take starts at the new offset;
        // the next call offers those same bytes again.
        break;
    }
    length = sent;
    stagedLength_ = 0;
    return TlsOutcome::Done;
}

bool TlsConnection::hasPendingInput() const
{
    return established_ && !broken_ && SSL_has_pending(ssl_) == 1;
}

void TlsConnection::sendCloseNotify()
{
    if (closeSent_ || broken_ || !established_)
        return;
    closeSent_ = true;
    // One attempt: a peer that does not read must not hold up the close.
    if (SSL_shutdown(ssl_) < 0)
        ERR_clear_error();
}

} // namespace vantrel
