// TlsCertificate: the program's one certificate as the services see it.
// It names the certificate and key files (or none: a self-signed pair in
// the data folder's "tls" folder, made on first use) and hands each new
// connection the current TlsContext. It looks at the files again at most
// once per RecheckMs: a renewal written over them is taken up by the next
// connection after that, and one that cannot be loaded keeps the previous
// certificate and says why on stderr.
//
// Shared by the services' session threads and the window's thread; every
// member is read and changed under lock_.
#pragma once

#include "foundation/critical_lock.h"
#include "foundation/tls_context.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel {

class TlsCertificate final {
public:
    static constexpr std::uint32_t RecheckMs = 30000;
    static constexpr char SelfSignedFolder[] = "tls";
    static constexpr char SelfSignedCertificate[] = "tls/certificate.pem";
    static constexpr char SelfSignedKey[] = "tls/key.pem";

    TlsCertificate() = default;
    TlsCertificate(const TlsCertificate&) = delete;
    TlsCertificate& operator=(const TlsCertificate&) = delete;

    // Names the files to use from now on; both empty: the self-signed pair.
    // Loads them (making the self-signed pair if it is missing) and, only
    // when that succeeds, makes them current. False with `whyNot` set and
    // nothing changed otherwise.
    bool use(const std::string& certificateFile, const std::string& keyFile, std::string& whyNot);
    // Names the files without loading them yet (settings read at start);
    // the first current() loads them.
    void name(const std::string& certificateFile, const std::string& keyFile);

    std::string certificateFile() const;
    std::string keyFile() const;
    bool selfSigned() const;

    // The context for a new connection: loads (or makes) the certificate on
    // first use and takes up a renewal. Null, with the reason on stderr and
    // in `whyNot`, when there has never been a loadable certificate.
    std::shared_ptr<const TlsContext> current(std::string* whyNot = nullptr);
    // The current certificate's fingerprint, or empty before one is loaded.
    std::string fingerprint() const;
    // The fingerprint of the current certificate or, before one is loaded,
    // of the named files read now; nothing is made and nothing kept, so a
    // look never creates the self-signed pair. Empty when there is none:
    // `whyNot` then says why the files cannot be loaded, or is empty when
    // the self-signed pair has not been made yet.
    std::string inspect(std::string& whyNot) const;

private:
    struct FileStamp {
        std::int64_t modified = 0;
        std::uint64_t size = 0;
        std::uint64_t inode = 0;
        bool operator==(const FileStamp&) const = default;
    };
    // Loads the named files (making the self-signed pair when none are
    // named and it is missing).
    std::shared_ptr<const TlsContext> loadNamed(const std::string& certificate, const std::string& key,
                                                std::string& whyNot, FileStamp stamps[2]) const;
    static void stampOf(const std::string& path, FileStamp& stamp);

    mutable CriticalLock lock_;
    std::string certificateFile_ VT_GUARDED_BY(lock_);
    std::string keyFile_ VT_GUARDED_BY(lock_);
    std::shared_ptr<const TlsContext> context_ VT_GUARDED_BY(lock_);
    FileStamp stamps_[2] VT_GUARDED_BY(lock_);
    std::uint32_t lastCheck_ VT_GUARDED_BY(lock_) = 0;
    bool reportedFailure_ VT_GUARDED_BY(lock_) = false;
};

} // namespace vantrel
