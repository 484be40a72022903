// TlsSettings: the program's certificate as two text records of
// general.dat, "tlscertificate" and "tlskey", the PEM chain and the PEM
// private key. A record is written only for a name that is not empty, so
// a program that never named a certificate (the self-signed pair) keeps
// general.dat as it always was. The shared TlsCertificate is what counts
// while the program runs: every save writes the names it holds now.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace vantrel {

class SettingsStore;
class TlsCertificate;

class TlsSettings final {
public:
    static constexpr char GeneralFile[] = "general.dat";
    static constexpr char KeyCertificate[] = "tlscertificate";
    static constexpr char KeyKey[] = "tlskey";
    // A path, as the file system takes it.
    static constexpr std::size_t MaxPath = 4095;

    // Names the files the records hold into `certificate` without loading
    // them (no records: the self-signed pair).
    static void nameFrom(const SettingsStore& general, TlsCertificate& certificate);
    // Writes the names `certificate` holds into `general`: one record per
    // name that is not empty, none for the self-signed pair. Other records
    // keep their place. True when the store changed.
    static bool storeInto(const TlsCertificate& certificate, SettingsStore& general);

    // The certificate and the file that keeps its names, for the task
    // commands: on a stopped server a certificate of their own, on a
    // running one the program's.
    explicit TlsSettings(TlsCertificate& certificate, std::string generalPath = GeneralFile)
        : certificate_(certificate), generalPath_(std::move(generalPath))
    {
    }

    TlsCertificate& certificate() { return certificate_; }
    // Names the files of general.dat into the certificate; false when the
    // file is missing or damaged (the certificate is then self-signed).
    [[nodiscard]] bool loadSettings();
    // Writes the certificate's names into general.dat, keeping its other
    // records; nothing is written when they are there already. False when
    // general.dat is damaged (it is left alone) or cannot be written.
    [[nodiscard]] bool saveSettings();

private:
    TlsCertificate& certificate_;
    std::string generalPath_;
};

} // namespace vantrel
