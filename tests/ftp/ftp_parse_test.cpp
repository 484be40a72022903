// The argument parsers of the data-connection commands: PORT and REST, and
// the PASV reply built from an address and a port.
#include "ftp/ftp_data_channel.h"
#include "ftp/ftp_transfer.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

struct PortCase {
    const char* argument;
    PortParse result;
    const char* address;
    std::uint16_t port;
};

class PortArgument : public testing::TestWithParam<PortCase> {};

TEST_P(PortArgument, Parses)
{
    const PortCase& c = GetParam();
    PortTarget target;
    ASSERT_EQ(parsePortArgument(c.argument, target), c.result);
    if (c.result == PortParse::Ok) {
        EXPECT_EQ(target.address, c.address);
        EXPECT_EQ(target.port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PortArgument,
                         testing::Values(PortCase{"192,168,0,5,4,1", PortParse::Ok, "192.168.0.5", 1025},
                                         PortCase{"127,0,0,1,255,255", PortParse::Ok, "127.0.0.1", 65535},
                                         PortCase{" 127, 0 ,0,1,4,0", PortParse::Ok, "127.0.0.1", 1024},
                                         PortCase{"127,0,0,1,4,1,9,9", PortParse::Ok, "127.0.0.1", 1025},
                                         PortCase{"1,2,3,4,5", PortParse::TooFew, "", 0},
                                         PortCase{"a,b,c,d,e,f", PortParse::TooFew, "", 0},
                                         PortCase{"", PortParse::TooFew, "", 0},
                                         PortCase{"300,0,0,1,4,1", PortParse::OutOfRange, "", 0},
                                         PortCase{"127,0,0,1,-1,5", PortParse::OutOfRange, "", 0},
                                         PortCase{"127,0,0,1,99999999999999,1", PortParse::OutOfRange, "", 0},
                                         PortCase{"127,0,0,1,3,255", PortParse::BelowPrivileged, "", 0},
                                         PortCase{"127,0,0,1,0,21", PortParse::BelowPrivileged, "", 0}));

TEST(PassiveReply, SplitsThePortAndUsesCommas)
{
    EXPECT_EQ(passiveReply("10.0.0.2", 1025), "227 Entering Passive Mode (10,0,0,2,4,1)");
    EXPECT_EQ(passiveReply("127.0.0.1", 65535), "227 Entering Passive Mode (127,0,0,1,255,255)");
}

TEST(RestartOffset, ReadsSixtyFourBitNumbers)
{
    std::uint64_t offset = 7;
    EXPECT_TRUE(parseRestartOffset("100", offset));
    EXPECT_EQ(offset, 100u);
    EXPECT_TRUE(parseRestartOffset("  5000000000 trailing", offset));
    EXPECT_EQ(offset, 5000000000u);
    EXPECT_TRUE(parseRestartOffset("18446744073709551615", offset));
    EXPECT_EQ(offset, UINT64_MAX);
    offset = 7;
    EXPECT_FALSE(parseRestartOffset("18446744073709551616", offset));
    EXPECT_FALSE(parseRestartOffset("abc", offset));
    EXPECT_FALSE(parseRestartOffset("", offset));
    EXPECT_FALSE(parseRestartOffset("-1", offset));
    EXPECT_EQ(offset, 7u);
}

} // namespace
} // namespace vantrel
