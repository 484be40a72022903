// TlsCertificate: loading, the self-signed fallback and renewal checks.
// Loading happens outside the lock (it reads files and may make a key);
// only the swap of the current context is done under it.
#include "foundation/tls_certificate.h"

#include "foundation/clock.h"
#include "foundation/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

namespace vantrel {

namespace {

constexpr char TextNeedsBoth[] = "a certificate needs both its certificate file and its key file";

std::string hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

} // namespace

void TlsCertificate::stampOf(const std::string& path, FileStamp& stamp)
{
    struct stat info {};
    stamp = FileStamp{};
    if (::stat(path.c_str(), &info) == 0) {
        stamp.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        stamp.size = static_cast<std::uint64_t>(info.st_size);
        stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    }
}

std::shared_ptr<const TlsContext> TlsCertificate::loadNamed(const std::string& certificate, const std::string& key,
                                                            std::string& whyNot, FileStamp stamps[2]) const
{
    const bool selfSigned = certificate.empty() && key.empty();
    const std::string certificatePath = selfSigned ? SelfSignedCertificate : certificate;
    const std::string keyPath = selfSigned ? SelfSignedKey : key;
    if (!selfSigned && (certificate.empty() || key.empty())) {
        whyNot = TextNeedsBoth;
        return nullptr;
    }
    if (selfSigned && (!pathExists(certificatePath) || !pathExists(keyPath))) {
        // The owner's only from the start; an older folder is made so too.
        (void)::mkdir(SelfSignedFolder, 0700);
        (void)::chmod(SelfSignedFolder, 0700);
        if (!makeSelfSignedCertificate(certificatePath, keyPath, hostName(), whyNot))
            return nullptr;
        std::string ignored;
        auto made = TlsContext::fromFiles(certificatePath, keyPath, ignored);
        if (made)
            std::fprintf(stderr, "Made a self-signed TLS certificate in %s/%s, SHA-256 fingerprint %s\n",
                         currentDirectory().c_str(), certificatePath.c_str(), made->fingerprint().c_str());
    }
    stampOf(certificatePath, stamps[0]);
    stampOf(keyPath, stamps[1]);
    return TlsContext::fromFiles(certificatePath, keyPath, whyNot);
}

bool TlsCertificate::use(const std::string& certificateFile, const std::string& keyFile, std::string& whyNot)
{
    FileStamp stamps[2];
    auto loaded = loadNamed(certificateFile, keyFile, whyNot, stamps);
    if (!loaded)
        return false;
    LockGuard guard(lock_);
    certificateFile_ = certificateFile;
    keyFile_ = keyFile;
    context_ = std::move(loaded);
    stamps_[0] = stamps[0];
    stamps_[1] = stamps[1];
    lastCheck_ = tickCount();
    reportedFailure_ = false;
    return true;
}

void TlsCertificate::name(const std::string& certificateFile, const std::string& keyFile)
{
    LockGuard guard(lock_);
    if (certificateFile == certificateFile_ && keyFile == keyFile_)
        return;
    certificateFile_ = certificateFile;
    keyFile_ = keyFile;
    context_.reset();
    reportedFailure_ = false;
}

std::string TlsCertificate::certificateFile() const
{
    LockGuard guard(lock_);
    return certificateFile_;
}

std::string TlsCertificate::keyFile() const
{
    LockGuard guard(lock_);
    return keyFile_;
}

bool TlsCertificate::selfSigned() const
{
    LockGuard guard(lock_);
    return certificateFile_.empty() && keyFile_.empty();
}

std::string TlsCertificate::fingerprint() const
{
    LockGuard guard(lock_);
    return context_ ? context_->fingerprint() : std::string();
}

std::string TlsCertificate::inspect(std::string& whyNot) const
{
    whyNot.clear();
    std::string certificate;
    std::string key;
    {
        LockGuard guard(lock_);
        if (context_)
            return context_->fingerprint();
        certificate = certificateFile_;
        key = keyFile_;
    }
    if (certificate.empty() && key.empty()) {
        if (!pathExists(SelfSignedCertificate) || !pathExists(SelfSignedKey))
            return {};
        certificate = SelfSignedCertificate;
        key = SelfSignedKey;
    } else if (certificate.empty() || key.empty()) {
        whyNot = TextNeedsBoth;
        return {};
    }
    const auto loaded = TlsContext::fromFiles(certificate, key, whyNot);
    return loaded ? loaded->fingerprint() : std::string();
}

std::shared_ptr<const TlsContext> TlsCertificate::current(std::string* whyNot)
{
    std::string certificate;
    std::string key;
    {
        LockGuard guard(lock_);
        const bool due = static_cast<std::uint32_t>(tickCount() - lastCheck_) >= RecheckMs;
        if (context_ && !due)
            return context_;
        certificate = certificateFile_;
        key = keyFile_;
        if (context_) {
            // Unchanged files need no reload.
            lastCheck_ = tickCount();
            const bool selfSigned = certificate.empty() && key.empty();
            FileStamp now[2];
            stampOf(selfSigned ? SelfSignedCertificate : certificate, now[0]);
            stampOf(selfSigned ? SelfSignedKey : key, now[1]);
            if (now[0] == stamps_[0] && now[1] == stamps_[1])
                return context_;
        }
    }
    std::string reason;
    FileStamp stamps[2];
    auto loaded = loadNamed(certificate, key, reason, stamps);
    LockGuard guard(lock_);
    if (certificate != certificateFile_ || key != keyFile_)
        return context_; // renamed meanwhile; the next call loads the new names
    lastCheck_ = tickCount();
    if (loaded) {
        context_ = std::move(loaded);
        stamps_[0] = stamps[0];
        stamps_[1] = stamps[1];
        reportedFailure_ = false;
        return context_;
    }
    // A renewal half-written or broken: keep serving the certificate we have,
    // and say so once per change of the files.
    if (!(stamps[0] == stamps_[0] && stamps[1] == stamps_[1] && reportedFailure_)) {
        if (context_)
            std::fprintf(stderr,
                         "The renewed TLS certificate could not be loaded (%s); the previous one stays in use\n",
                         reason.c_str());
        else
            std::fprintf(stderr, "The TLS certificate could not be loaded: %s\n", reason.c_str());
        reportedFailure_ = true;
        stamps_[0] = stamps[0];
        stamps_[1] = stamps[1];
    }
    if (whyNot != nullptr)
        *whyNot = reason;
    return context_;
}

} // namespace vantrel
