#include "net/winsockerrors.h"

#include <array>
#include <cerrno>

namespace vorlan {

namespace {

struct ErrorText
{
    int code;
    const char *text; // UTF-8
};

// The wording the desktop peers show, kept word for word so both sides read the same.
constexpr std::array kErrorTexts{
    ErrorText{10004, "呼び出しが取り消された。"},
    ErrorText{10013, "指定されたアドレスは、ブロードキャストパケットの送信をサポートしていない。"},
    ErrorText{10014, "32ビットインターネットアドレス指定に誤りがあります。"},
    ErrorText{10022, "関数の呼び出し順番に誤りがある。"},
    ErrorText{10024, "利用可能なファイル番号が存在しない。"},
    ErrorText{10035, "このソケットはノンブロッキング型である。"},
    ErrorText{10036, "ブロッキング呼び出し進行中。"},
    ErrorText{10037, "ノンブロッキング型の処理を処理中。"},
    ErrorText{10038, "ソケット以外を指定した。"},
    ErrorText{10039, "リモートアドレスが指定されていない。"},
    ErrorText{10040, "データがバッファより大きいので切りつめられた。"},
    ErrorText{10041, "ソケットは指定されたプロトコルをサポートしていない。"},
    ErrorText{10042, "プロトコルのオプションに誤りがある。"},
    ErrorText{10043, "指定されたプロトコルはサポートされていない。"},
    ErrorText{10044, "指定されたソケットタイプはサポートされていない。"},
    ErrorText{10045, "指定されたソケットがサポートしていない操作である。"},
    ErrorText{10046, "指定されたアドレスファミリがサポートされていない。"},
    ErrorText{10047, "指定されたプロトコルでは、指定されたアドレスファミリがサポートされていない。"},
    ErrorText{10048, "指定されたアドレスは使用中。"},
    ErrorText{10049, "指定されたアドレスは使用できない。"},
    ErrorText{10050, "ネットワークがダウンしている。"},
    ErrorText{10051, "リモートホストのネットワークに接続できない。"},
    ErrorText{10052, "ネットワークから切断された。"},
    ErrorText{10053, "ネットワーク不良で接続が中止された。"},
    ErrorText{10054, "リモートホストから切断された。"},
    ErrorText{10055, "バッファ領域不足。"},
    ErrorText{10056, "ソケットはすでに接続されている。"},
    ErrorText{10057, "ソケットが接続されていない。"},
    ErrorText{10058, "ソケットがシャットダウンされている。"},
    ErrorText{10060, "接続処理タイムアウト。"},
    ErrorText{10061, "接続が拒否された。"},
    ErrorText{10064, "リモートホストがダウンしている。"},
    ErrorText{10065, "ホストへのルートが存在しない。"},
    ErrorText{10067, "プロセスが多すぎます。"},
    ErrorText{10091, "ネットワークサブシステムに通信するための準備ができていない。"},
    ErrorText{10092, "指定されたバージョンがサポートされていない。"},
    ErrorText{10093, "WSAStartup関数を呼び出していないか、失敗しています。"},
    ErrorText{11001, "ホストが見つからない。"},
    ErrorText{11002, "権限があるホストが見つからない。"},
    ErrorText{11003, "修復不可能なエラーが発生した。"},
    ErrorText{11004, "データレコードの型が要求されていない。"},
};

struct ErrnoTwin
{
    int errnoValue;
    int code;
};

// Several errno values fold into one code; on Linux EWOULDBLOCK is EAGAIN, so the first
// match wins and the duplicate is harmless.
constexpr std::array kErrnoTwins{
    ErrnoTwin{EINTR, 10004},
    ErrnoTwin{EACCES, 10013},
    ErrnoTwin{EPERM, 10013},
    ErrnoTwin{EFAULT, 10014},
    ErrnoTwin{EINVAL, 10022},
    ErrnoTwin{EMFILE, 10024},
    ErrnoTwin{ENFILE, 10024},
    ErrnoTwin{EWOULDBLOCK, 10035},
    ErrnoTwin{EAGAIN, 10035},
    ErrnoTwin{EINPROGRESS, 10036},
    ErrnoTwin{EALREADY, 10037},
    ErrnoTwin{ENOTSOCK, 10038},
    ErrnoTwin{EBADF, 10038},
    ErrnoTwin{EDESTADDRREQ, 10039},
    ErrnoTwin{EMSGSIZE, 10040},
    ErrnoTwin{EPROTOTYPE, 10041},
    ErrnoTwin{ENOPROTOOPT, 10042},
    ErrnoTwin{EPROTONOSUPPORT, 10043},
    ErrnoTwin{ESOCKTNOSUPPORT, 10044},
    ErrnoTwin{EOPNOTSUPP, 10045},
    ErrnoTwin{EPFNOSUPPORT, 10046},
    ErrnoTwin{EAFNOSUPPORT, 10047},
    ErrnoTwin{EADDRINUSE, 10048},
    ErrnoTwin{EADDRNOTAVAIL, 10049},
    ErrnoTwin{ENETDOWN, 10050},
    ErrnoTwin{ENETUNREACH, 10051},
    ErrnoTwin{ENETRESET, 10052},
    ErrnoTwin{ECONNABORTED, 10053},
    ErrnoTwin{ECONNRESET, 10054},
    ErrnoTwin{ENOBUFS, 10055},
    ErrnoTwin{EISCONN, 10056},
    ErrnoTwin{ENOTCONN, 10057},
    ErrnoTwin{ESHUTDOWN, 10058},
    ErrnoTwin{ETIMEDOUT, 10060},
    ErrnoTwin{ECONNREFUSED, 10061},
    ErrnoTwin{EHOSTDOWN, 10064},
    ErrnoTwin{EHOSTUNREACH, 10065},
};

} // namespace

QString WinsockErrorText(int code)
{
    for (const ErrorText &entry : kErrorTexts) {
        if (entry.code == code)
            return QString::fromUtf8(entry.text);
    }
    return QStringLiteral("(%1)").arg(code);
}

int winsockCodeFromErrno(int errnoValue)
{
    for (const ErrnoTwin &twin : kErrnoTwins) {
        if (twin.errnoValue == errnoValue)
            return twin.code;
    }
    return errnoValue;
}

} // namespace vorlan
