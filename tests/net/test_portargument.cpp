#include "net/portargument.h"

#include <gtest/gtest.h>

using vorlan::portFromCommandLine;

TEST(PortArgument, DefaultsTo8888WithoutAUsableNumber)
{
    for (const char *text : {"", "   ", "0", "abc", "0.4", "-0.2", ".", "x9000"})
        EXPECT_EQ(portFromCommandLine(QString::fromLatin1(text)), 8888) << text;
}

TEST(PortArgument, UsesTheLeadingNumberRounded)
{
    EXPECT_EQ(portFromCommandLine("9000"), 9000);
    EXPECT_EQ(portFromCommandLine(" 9000 extra words"), 9000);
    EXPECT_EQ(portFromCommandLine("9000abc"), 9000);
    EXPECT_EQ(portFromCommandLine("9000.6"), 9001);
    EXPECT_EQ(portFromCommandLine("9000.5"), 9000); // halves go to the even number
    EXPECT_EQ(portFromCommandLine("9001.5"), 9002);
    EXPECT_EQ(portFromCommandLine("1"), 1);
    EXPECT_EQ(portFromCommandLine("40000"), 40000);
    EXPECT_EQ(portFromCommandLine("65535"), 65535);
    EXPECT_EQ(portFromCommandLine("9e3"), 9000);
}

TEST(PortArgument, RejectsNegativeAndTooLargeNumbers)
{
    for (const char *text : {"-1", "-9000", "65536", "70000", "1e10", "0.6e6"})
        EXPECT_FALSE(portFromCommandLine(QString::fromLatin1(text)).has_value()) << text;
}
