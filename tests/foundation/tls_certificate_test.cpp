// The program's certificate as an operator changes it: a renewal written
// over the files is taken up after the recheck interval (the test clock is
// moved instead of waiting), a broken renewal keeps the certificate in
// use, and a certificate that cannot be used (key of another certificate,
// expired, not valid yet, a file missing) is refused with its reason and
// changes nothing. The files are made with the openssl command line.
#include "foundation/clock.h"
#include "foundation/tls_certificate.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace vantrel {
namespace {

constexpr char OpenSsl[] = "/usr/bin/openssl";

class TlsCertificateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(OpenSsl, X_OK) != 0)
            GTEST_SKIP() << OpenSsl << " is missing";
    }

    std::string path(const std::string& name) const { return folder_ / name; }

    void run(const std::string& command) const
    {
        const std::string line = "cd '" + folder_.path() + "' && " + command + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(line.c_str()), 0) << command;
    }

    // A self-signed certificate valid from now, with its key.
    void makePair(const std::string& stem) const
    {
        run(std::string(OpenSsl) + " req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + stem +
            ".key -out " + stem + ".pem -subj /CN=localhost -days 30");
    }

    // A self-signed certificate valid only between two dates: the request
    // command cannot place its dates in the past, the signing one can.
    void makeDatedPair(const std::string& stem, const std::string& from, const std::string& until) const
    {
        run("mkdir -p ca-" + stem + " && touch ca-" + stem + "/index.txt");
        std::ofstream(path(stem + ".cnf"))
            << "[ca]\ndefault_ca = d\n[d]\ndatabase = ca-" << stem << "/index.txt\nnew_certs_dir = ca-" << stem
            << "\nserial = ca-" << stem << "/serial\ndefault_md = sha256\npolicy = p\n[p]\ncommonName = supplied\n";
        run(std::string(OpenSsl) + " req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + stem +
            ".key -out " + stem + ".csr -subj /CN=localhost");
        run(std::string(OpenSsl) + " ca -config " + stem + ".cnf -selfsign -keyfile " + stem + ".key -in " + stem +
            ".csr -out " + stem + ".pem -startdate " + from + " -enddate " + until + " -batch -notext -create_serial");
    }

    // The fingerprint as the openssl command line prints it.
    std::string fingerprintOf(const std::string& stem) const
    {
        const std::string command =
            std::string(OpenSsl) + " x509 -in '" + path(stem + ".pem") + "' -noout -fingerprint -sha256";
        char text[256] = {};
        FILE* out = ::popen(command.c_str(), "r");
        if (out != nullptr) {
            if (std::fgets(text, sizeof text, out) == nullptr)
                text[0] = '\0';
            ::pclose(out);
        }
        std::string line(text);
        line.resize(line.find('\n') == std::string::npos ? line.size() : line.find('\n'));
        return line.substr(line.find('=') + 1);
    }

    void copyOver(const std::string& from, const std::string& to) const { run("cp " + from + " " + to); }

    testing::ScratchFolder folder_;
};

TEST_F(TlsCertificateTest, ARenewalIsTakenUpAfterTheRecheckAndABrokenOneKeepsTheCertificate)
{
    makePair("first");
    makePair("second");
    copyOver("first.pem", "live.pem");
    copyOver("first.key", "live.key");
    TlsCertificate certificate;
    std::string whyNot;
    ASSERT_TRUE(certificate.use(path("live.pem"), path("live.key"), whyNot)) << whyNot;
    const std::string first = fingerprintOf("first");
    ASSERT_EQ(certificate.current()->fingerprint(), first);

    copyOver("second.pem", "live.pem");
    copyOver("second.key", "live.key");
    EXPECT_EQ(certificate.current()->fingerprint(), first) << "looked again before the interval";
    advanceTickCount(TlsCertificate::RecheckMs);
    EXPECT_EQ(certificate.current()->fingerprint(), fingerprintOf("second"));
    EXPECT_EQ(certificate.fingerprint(), fingerprintOf("second"));

    // Half a renewal: the certificate of another key.
    copyOver("first.pem", "live.pem");
    advanceTickCount(TlsCertificate::RecheckMs);
    EXPECT_EQ(certificate.current()->fingerprint(), fingerprintOf("second"));
}

TEST_F(TlsCertificateTest, AnUnusableCertificateIsRefusedWithItsReasonAndChangesNothing)
{
    makePair("good");
    makePair("other");
    makeDatedPair("expired", "20200101000000Z", "20200102000000Z");
    makeDatedPair("early", "20990101000000Z", "20990102000000Z");
    struct Case {
        const char* name;
        std::string certificateFile;
        std::string keyFile;
        const char* reason;
    } const cases[] = {
        {"a key of another certificate", path("good.pem"), path("other.key"), "the key does not match the certificate"},
        {"an expired certificate", path("expired.pem"), path("expired.key"), "the certificate has expired"},
        {"a certificate not valid yet", path("early.pem"), path("early.key"), "the certificate is not valid yet"},
        {"a missing certificate file", path("missing.pem"), path("good.key"), "cannot be opened"},
        {"a missing key file", path("good.pem"), path("missing.key"), "cannot be opened"},
        {"no key file named", path("good.pem"), "", "needs both"},
    };
    TlsCertificate certificate;
    std::string whyNot;
    ASSERT_TRUE(certificate.use(path("good.pem"), path("good.key"), whyNot)) << whyNot;
    const std::string good = fingerprintOf("good");
    for (const Case& c : cases) {
        whyNot.clear();
        EXPECT_FALSE(certificate.use(c.certificateFile, c.keyFile, whyNot)) << c.name;
        EXPECT_NE(whyNot.find(c.reason), std::string::npos) << c.name << ": " << whyNot;
        EXPECT_EQ(certificate.certificateFile(), path("good.pem")) << c.name;
        EXPECT_EQ(certificate.keyFile(), path("good.key")) << c.name;
        EXPECT_EQ(certificate.fingerprint(), good) << c.name;
        EXPECT_EQ(certificate.current()->fingerprint(), good) << c.name;
    }
}

} // namespace
} // namespace vantrel
