// TlsContext over OpenSSL 3. Certificate and key files are read by this
// code (bounded, regular files only, never waiting on a pipe) and handed to
// the library from memory; an encrypted key is refused rather than prompted
// for. The self-signed pair is made with the library's own calls.
#include "foundation/tls_context.h"

#include "foundation/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vantrel {

namespace {

// The intermediate choice of the well-kept server guides: forward secrecy
// and authenticated encryption only. TLS 1.3's own suites are all fine.
constexpr char Tls12Ciphers[] = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
                                "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
constexpr char Groups[] = "X25519:P-256:P-384";
// A certificate or key file is a few KiB; anything far larger is not one.
constexpr off_t PemFileLimit = 1024 * 1024;
constexpr long SessionCacheSize = 20000;
constexpr long SelfSignedDays = 365;

// The library would free its global state at exit, while a connection's
// thread that ended just before may still be running the library's
// per-thread clean-up (such threads are not joined). Its state therefore
// lives until the process is gone. This must be the process's first call
// into the library, hence a static object.
const bool libraryKeptUntilExit = OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

struct Freer {
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
    void operator()(X509_NAME* p) const { X509_NAME_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Freer>;

// The whole of a regular file of at most PemFileLimit bytes.
bool readPemFile(const std::string& path, std::string& bytes, std::string& whyNot, const char* what)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        whyNot = std::string("the ") + what + " file " + path + " cannot be opened: " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= PemFileLimit;
    if (!ok) {
        whyNot = std::string("the ") + what + " file " + path + " is not a PEM file";
    }
    bytes.clear();
    char chunk[4096];
    while (ok) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            whyNot = std::string("the ") + what + " file " + path + " cannot be read: " + std::strerror(errno);
            ok = false;
        } else if (got == 0) {
            break;
        } else if (bytes.size() + static_cast<std::size_t>(got) > static_cast<std::size_t>(PemFileLimit)) {
            whyNot = std::string("the ") + what + " file " + path + " is not a PEM file";
            ok = false;
        } else {
            bytes.append(chunk, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return ok;
}

// Never asks for a pass phrase: an encrypted key simply fails to load.
int refusePassphrase(char*, int, int, void*)
{
    return 0;
}

Owned<BIO> memoryOf(const std::string& bytes)
{
    return Owned<BIO>(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string fingerprintOf(const X509* certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    std::string text;
    char pair[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += pair;
    }
    return text;
}

SSL_CTX* newServerContext()
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr)
        return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION | SSL_OP_CIPHER_SERVER_PREFERENCE |
                                     SSL_OP_ENABLE_KTLS | SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(context,
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_set_cipher_list(context, Tls12Ciphers) != 1 || SSL_CTX_set1_groups_list(context, Groups) != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    // Reading ahead takes a record's header and body, and the next records,
    // in one receive rather than two per record.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, 64 * 1024);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
    SSL_CTX_sess_set_cache_size(context, SessionCacheSize);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_default_passwd_cb(context, refusePassphrase);
    return context;
}

} // namespace

std::shared_ptr<const TlsContext> TlsContext::forClients()
{
    static const std::shared_ptr<const TlsContext> shared = [] {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        if (context == nullptr) {
            ERR_clear_error();
            return std::shared_ptr<const TlsContext>();
        }
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION | SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // Verification runs and is recorded, but never ends the handshake.
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
        if (SSL_CTX_set_default_verify_paths(context) != 1)
            ERR_clear_error();
        return std::shared_ptr<const TlsContext>(new TlsContext(context, std::string()));
    }();
    return shared;
}

TlsScope TlsScope::fresh()
{
    TlsScope scope;
    if (RAND_bytes(scope.bytes, static_cast<int>(Size)) != 1) {
        // Without randomness a scope must still be unique in this process.
        static unsigned long long counter = 0;
        const unsigned long long value = __atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED);
        std::memcpy(scope.bytes, &value, sizeof value);
    }
    return scope;
}

TlsScope TlsScope::single()
{
    TlsScope scope = fresh();
    scope.resumable = false;
    return scope;
}

TlsScope TlsScope::named(const char* name)
{
    TlsScope scope;
    const std::size_t length = std::min(std::strlen(name), Size);
    std::memcpy(scope.bytes, name, length);
    return scope;
}

TlsContext::TlsContext(ssl_ctx_st* context, std::string fingerprint)
    : context_(context), fingerprint_(std::move(fingerprint))
{
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(context_);
}

std::shared_ptr<const TlsContext> TlsContext::fromFiles(const std::string& certificateFile, const std::string& keyFile,
                                                        std::string& whyNot)
{
    std::string certificateBytes;
    std::string keyBytes;
    if (!readPemFile(certificateFile, certificateBytes, whyNot, "certificate") ||
        !readPemFile(keyFile, keyBytes, whyNot, "key"))
        return nullptr;

    Owned<BIO> certificates = memoryOf(certificateBytes);
    Owned<X509> leaf(PEM_read_bio_X509_AUX(certificates.get(), nullptr, refusePassphrase, nullptr));
    if (!leaf) {
        ERR_clear_error();
        whyNot = "the certificate file " + certificateFile + " holds no PEM certificate";
        return nullptr;
    }
    Owned<BIO> keyMemory = memoryOf(keyBytes);
    Owned<EVP_PKEY> key(PEM_read_bio_PrivateKey(keyMemory.get(), nullptr, refusePassphrase, nullptr));
    OPENSSL_cleanse(keyBytes.data(), keyBytes.size());
    if (!key) {
        ERR_clear_error();
        whyNot = "the key file " + keyFile + " holds no unencrypted PEM private key";
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(leaf.get())) <= 0) {
        whyNot = "the certificate has expired";
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notBefore(leaf.get())) >= 0) {
        whyNot = "the certificate is not valid yet";
        return nullptr;
    }

    Owned<SSL_CTX> context(newServerContext());
    if (!context) {
        ERR_clear_error();
        whyNot = "the TLS library could not be set up";
        return nullptr;
    }
    if (SSL_CTX_use_certificate(context.get(), leaf.get()) != 1) {
        ERR_clear_error();
        whyNot = "the certificate cannot be used (its key may be too weak)";
        return nullptr;
    }
    // The rest of the chain, in the file's order.
    while (X509* next = PEM_read_bio_X509(certificates.get(), nullptr, refusePassphrase, nullptr)) {
        if (SSL_CTX_add0_chain_cert(context.get(), next) != 1) {
            X509_free(next);
            ERR_clear_error();
            whyNot = "the certificate chain cannot be used";
            return nullptr;
        }
    }
    ERR_clear_error(); // the end of the chain reads as "no start line"
    if (SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1 || SSL_CTX_check_private_key(context.get()) != 1) {
        ERR_clear_error();
        whyNot = "the key does not match the certificate";
        return nullptr;
    }
    std::shared_ptr<const TlsContext> made(new TlsContext(context.release(), fingerprintOf(leaf.get())));
    return made;
}

bool makeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                               const std::string& hostName, std::string& whyNot)
{
    whyNot = "a self-signed certificate could not be made";
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    Owned<X509> certificate(X509_new());
    if (!key || !certificate) {
        ERR_clear_error();
        return false;
    }
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) {
        ERR_clear_error();
        return false;
    }
    serial[0] &= 0x7F; // a positive number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);

    X509_NAME* name = X509_get_subject_name(certificate.get());
    const std::string altName = "DNS:" + hostName;
    X509V3_CTX extensions;
    X509V3_set_ctx_nodb(&extensions);
    X509V3_set_ctx(&extensions, certificate.get(), certificate.get(), nullptr, nullptr, 0);
    Owned<X509_EXTENSION> san(X509V3_EXT_conf_nid(nullptr, &extensions, NID_subject_alt_name, altName.c_str()));
    Owned<X509_EXTENSION> usage(X509V3_EXT_conf_nid(nullptr, &extensions, NID_ext_key_usage, "serverAuth"));
    bool ok =
        serialSet && X509_set_version(certificate.get(), 2) == 1 &&
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), SelfSignedDays * 24 * 3600) != nullptr &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(hostName.c_str()),
                                   -1, -1, 0) == 1 &&
        X509_set_issuer_name(certificate.get(), name) == 1 && san && usage &&
        X509_add_ext(certificate.get(), san.get(), -1) == 1 && X509_add_ext(certificate.get(), usage.get(), -1) == 1 &&
        X509_set_pubkey(certificate.get(), key.get()) == 1 && X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
    if (!ok) {
        ERR_clear_error();
        return false;
    }

    Owned<BIO> keyOut(BIO_new(BIO_s_mem()));
    Owned<BIO> certificateOut(BIO_new(BIO_s_mem()));
    if (!keyOut || !certificateOut ||
        PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(certificateOut.get(), certificate.get()) != 1) {
        ERR_clear_error();
        return false;
    }
    char* bytes = nullptr;
    long length = BIO_get_mem_data(keyOut.get(), &bytes);
    // The key first: a certificate on disk always has its key beside it.
    if (!writeWholeFile(keyFile, std::string_view(bytes, static_cast<std::size_t>(length)), IfExists::Replace, 0600)) {
        whyNot = "the key file " + keyFile + " cannot be written: " + std::strerror(errno);
        OPENSSL_cleanse(bytes, static_cast<std::size_t>(length));
        return false;
    }
    OPENSSL_cleanse(bytes, static_cast<std::size_t>(length));
    length = BIO_get_mem_data(certificateOut.get(), &bytes);
    if (!writeWholeFile(certificateFile, std::string_view(bytes, static_cast<std::size_t>(length)))) {
        whyNot = "the certificate file " + certificateFile + " cannot be written: " + std::strerror(errno);
        return false;
    }
    whyNot.clear();
    return true;
}

} // namespace vantrel
