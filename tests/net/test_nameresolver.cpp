#include "net/nameresolver.h"

#include <gtest/gtest.h>

using vorlan::NameResolver;

// Only names the hosts file answers: a test never asks a name server.
TEST(NameResolver, ResolvesNamesAndDottedTextToDottedIPv4)
{
    NameResolver resolver;
    EXPECT_EQ(resolver.resolve("localhost"), std::optional<QString>("127.0.0.1"));
    EXPECT_EQ(resolver.resolve("127.0.0.9"), std::optional<QString>("127.0.0.9"));
    EXPECT_EQ(resolver.resolve(""), std::nullopt);
}
