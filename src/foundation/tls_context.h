// TlsContext: one loaded server certificate (a PEM chain and its private
// key) with the program's TLS rules: TLS 1.2 and 1.3 only, the intermediate
// cipher list, server cipher preference, no renegotiation, no compression,
// session tickets and a session cache for resumption. A context never
// changes once made; a renewed certificate is a new context.
//
// TlsScope names the connections that may resume each other's sessions:
// a session made under one scope is never resumed under another, which is
// how an FTP data connection proves it comes from the client of its
// control connection.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct ssl_ctx_st;

namespace vantrel {

struct TlsScope {
    static constexpr std::size_t Size = 32;
    unsigned char bytes[Size] = {};
    // False for a scope of one connection alone: no later connection can
    // resume its session, so the server issues it no session tickets.
    bool resumable = true;

    // A scope of its own, from the system's random source.
    static TlsScope fresh();
    // A scope of its own that no other connection will ever use (a mail
    // session's): fresh, and issued no tickets, which would only cost the
    // handshake their making and the client their reading.
    static TlsScope single();
    // A scope shared by every connection that names it (all HTTPS
    // connections of the program resume each other's sessions).
    static TlsScope named(const char* name);
};

class TlsContext final {
public:
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // Loads a certificate chain and its key, both PEM. Null, with a short
    // reason in `whyNot` ("the key does not match the certificate"), when a
    // file is missing or unreadable, the key does not match, or the
    // certificate is expired or not valid yet. The reason never holds key
    // material.
    static std::shared_ptr<const TlsContext> fromFiles(const std::string& certificateFile, const std::string& keyFile,
                                                       std::string& whyNot);

    // For connections this program makes (to a relay host): TLS 1.2 and
    // 1.3, the system's trusted authorities; whether the peer's certificate
    // verified is the caller's to judge. Made once; null when the library
    // cannot set it up.
    static std::shared_ptr<const TlsContext> forClients();

    // The leaf certificate's SHA-256 fingerprint, "AB:CD:...:EF".
    const std::string& fingerprint() const { return fingerprint_; }
    ssl_ctx_st* native() const { return context_; }

private:
    TlsContext(ssl_ctx_st* context, std::string fingerprint);

    ssl_ctx_st* context_;
    std::string fingerprint_;
};

// Writes a self-signed certificate for `hostName` (ECDSA P-256, subject and
// DNS name the host name, valid one year from now) and its key, the key
// file with mode 0600. Each file is written whole under a temporary name
// and then renamed. False with a reason in `whyNot`.
bool makeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                               const std::string& hostName, std::string& whyNot);

} // namespace vantrel
