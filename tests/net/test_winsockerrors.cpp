#include "net/winsockerrors.h"

#include <gtest/gtest.h>

#include <cerrno>

using vorlan::WinsockErrorText;
using vorlan::winsockCodeFromErrno;

TEST(WinsockErrorText, KnownCodesGiveTheirJapaneseText)
{
    EXPECT_EQ(WinsockErrorText(10048), QStringLiteral("指定されたアドレスは使用中。"));
    EXPECT_EQ(WinsockErrorText(10004), QStringLiteral("呼び出しが取り消された。"));
    EXPECT_EQ(WinsockErrorText(10093),
              QStringLiteral("WSAStartup関数を呼び出していないか、失敗しています。"));
    EXPECT_EQ(WinsockErrorText(11004), QStringLiteral("データレコードの型が要求されていない。"));
}

TEST(WinsockErrorText, UnknownCodesShowTheNumber)
{
    // Gaps inside the range have no text either.
    EXPECT_EQ(WinsockErrorText(10066), QStringLiteral("(10066)"));
    EXPECT_EQ(WinsockErrorText(10059), QStringLiteral("(10059)"));
    EXPECT_EQ(WinsockErrorText(0), QStringLiteral("(0)"));
    EXPECT_EQ(WinsockErrorText(-1), QStringLiteral("(-1)"));
}

TEST(WinsockFromErrno, SocketErrorsMapToTheirCodes)
{
    EXPECT_EQ(winsockCodeFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(winsockCodeFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(winsockCodeFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(winsockCodeFromErrno(EINTR), 10004);
}

TEST(WinsockFromErrno, SeveralErrnosShareOneCode)
{
    EXPECT_EQ(winsockCodeFromErrno(EACCES), 10013);
    EXPECT_EQ(winsockCodeFromErrno(EPERM), 10013);
    EXPECT_EQ(winsockCodeFromErrno(EMFILE), 10024);
    EXPECT_EQ(winsockCodeFromErrno(ENFILE), 10024);
    EXPECT_EQ(winsockCodeFromErrno(EAGAIN), 10035);
    EXPECT_EQ(winsockCodeFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(winsockCodeFromErrno(ENOTSOCK), 10038);
    EXPECT_EQ(winsockCodeFromErrno(EBADF), 10038);
}

TEST(WinsockFromErrno, OtherErrnosPassThroughAndShowTheirNumber)
{
    EXPECT_EQ(winsockCodeFromErrno(ENOENT), 2);
    EXPECT_EQ(WinsockErrorText(winsockCodeFromErrno(ENOENT)), QStringLiteral("(2)"));
    EXPECT_EQ(winsockCodeFromErrno(0), 0);
}

TEST(WinsockFromErrno, EveryMappedCodeHasAText)
{
    for (int e : {EINTR, EACCES, EFAULT, EINVAL, EMFILE, EAGAIN, EINPROGRESS, EALREADY,
                  ENOTSOCK, EDESTADDRREQ, EMSGSIZE, EPROTOTYPE, ENOPROTOOPT, EPROTONOSUPPORT,
                  ESOCKTNOSUPPORT, EOPNOTSUPP, EPFNOSUPPORT, EAFNOSUPPORT, EADDRINUSE,
                  EADDRNOTAVAIL, ENETDOWN, ENETUNREACH, ENETRESET, ECONNABORTED, ECONNRESET,
                  ENOBUFS, EISCONN, ENOTCONN, ESHUTDOWN, ETIMEDOUT, ECONNREFUSED, EHOSTDOWN,
                  EHOSTUNREACH}) {
        const int code = winsockCodeFromErrno(e);
        EXPECT_FALSE(WinsockErrorText(code).startsWith(u'(')) << "errno " << e;
    }
}
