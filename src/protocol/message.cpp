#include "protocol/message.h"

#include "base/codec.h"

#include <QList>

#include <algorithm>

namespace vorlan {

namespace {

enum class Tail { StartTimeToEnd, StartTimeAndPayload, Nothing };

struct Kind
{
    QStringView code;
    Tail tail;
};

constexpr Kind kinds[] = {
    {Code::Chat, Tail::StartTimeAndPayload},      {Code::DirectedChat, Tail::StartTimeAndPayload},
    {Code::Join, Tail::StartTimeToEnd},           {Code::JoinReply, Tail::StartTimeToEnd},
    {Code::Rejoin, Tail::StartTimeToEnd},         {Code::Leave, Tail::Nothing},
    {Code::DeskNotice, Tail::StartTimeToEnd},     {Code::NameNotice, Tail::StartTimeToEnd},
    {Code::VersionRequest, Tail::Nothing},        {Code::VersionReply, Tail::StartTimeAndPayload},
    {Code::PastLogRequest, Tail::Nothing},        {Code::PastLogReply, Tail::StartTimeAndPayload},
};

const Kind *findKind(QStringView code)
{
    for (const Kind &kind : kinds) {
        if (kind.code == code)
            return &kind;
    }
    return nullptr;
}

// The address field is where replies and later lines go, and the key of the sender's roster
// row. Every desktop peer writes its own address there as inet_ntoa gives it: four decimal
// numbers without leading zeros. Anything else (a name, garbage, 0.0.0.0, the broadcast
// address) would make this peer answer or chat by broadcast, so it is no address. Multicast
// (224-239) and the reserved block above it (240-255, the broadcast address included) are no
// host's own address either; nor is 0.x.x.x, "this network". A subnet's directed broadcast
// cannot be told from a host address without knowing the sender's netmask, and is let through.
bool isUnicastAddress(QStringView text)
{
    int octets[4] = {};
    qsizetype start = 0;
    for (int i = 0; i < 4; ++i) {
        const qsizetype end = i < 3 ? text.indexOf(u'.', start) : text.size();
        if (end < 0)
            return false;
        const QStringView part = text.sliced(start, end - start);
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part[0] == u'0'))
            return false;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
            octets[i] = octets[i] * 10 + (c.unicode() - u'0');
        }
        if (octets[i] > 255)
            return false;
        start = end + 1;
    }
    return octets[0] != 0 && octets[0] < 224;
}

QString withPayload(QStringView code, const Identity &id, const QString &payload)
{
    return MessageHeader(code, id) + u',' + payload;
}

} // namespace

QString fitUserName(const QString &name)
{
    QString withoutCommas = name;
    withoutCommas.remove(u',');
    return cp932Left(withoutCommas, MaxUserNameBytes);
}

QString versionText()
{
    return QStringLiteral("V%1.%2.%3")
        .arg(VORLAN_VERSION_MAJOR)
        .arg(VORLAN_VERSION_MINOR)
        .arg(VORLAN_VERSION_PATCH);
}

QString programTitle()
{
    return QStringLiteral("Vorlan ") + versionText();
}

QString MessageHeader(QStringView code, const Identity &id)
{
    QString text;
    text.reserve(16 + id.userName.size() + id.hostName.size() + id.address.size());
    text += code;
    text += u' ';
    text += id.deskFlag;
    text += id.userName;
    text += u',';
    text += id.hostName;
    text += u',';
    text += id.address;
    text += u',';
    text += id.startTime;
    return text;
}

QString buildChat(const Identity &id, const QString &line)
{
    return withPayload(Code::Chat, id, line);
}

QString buildDirectedChat(const Identity &id, const QString &recipients, const QString &line)
{
    return withPayload(Code::DirectedChat, id, QStringLiteral("(To:") + recipients + QStringLiteral(") ") + line);
}

QString buildJoin(const Identity &id) { return MessageHeader(Code::Join, id); }
QString buildJoinReply(const Identity &id) { return MessageHeader(Code::JoinReply, id); }
QString buildRejoin(const Identity &id) { return MessageHeader(Code::Rejoin, id); }
QString buildLeave(const Identity &id) { return MessageHeader(Code::Leave, id); }
QString buildDeskNotice(const Identity &id) { return MessageHeader(Code::DeskNotice, id); }
QString buildNameNotice(const Identity &id) { return MessageHeader(Code::NameNotice, id); }
QString buildVersionRequest(const Identity &id) { return MessageHeader(Code::VersionRequest, id); }
QString buildPastLogRequest(const Identity &id) { return MessageHeader(Code::PastLogRequest, id); }

QString buildVersionReply(const Identity &id)
{
    return withPayload(Code::VersionReply, id, versionText());
}

QString buildPastLogReply(const Identity &id, const QString &conversation)
{
    return withPayload(Code::PastLogReply, id, conversation);
}

namespace {

bool breaksLines(char16_t c)
{
    return (c < 0x20 && c != u'\t') || c == 0x85 || c == 0x2028 || c == 0x2029;
}

QString replaceLineBreakers(const QString &text, bool keepCrLf)
{
    const auto first = std::find_if(text.begin(), text.end(), [](QChar c) { return breaksLines(c.unicode()); });
    if (first == text.end())
        return text; // the usual case: nothing to copy
    QString result = text;
    QChar *data = result.data();
    const qsizetype size = result.size();
    for (qsizetype i = first - text.begin(); i < size; ++i) {
        if (!breaksLines(data[i].unicode()))
            continue;
        if (keepCrLf && data[i] == u'\r' && i + 1 < size && data[i + 1] == u'\n') {
            ++i;
            continue;
        }
        data[i] = QChar::ReplacementCharacter;
    }
    return result;
}

} // namespace

QString oneLine(const QString &text)
{
    return replaceLineBreakers(text, false);
}

QString crLfLines(const QString &text)
{
    return replaceLineBreakers(text, true);
}

std::optional<ParsedMessage> parseMessage(const QString &text, const ParsedMessage *previous)
{
    if (text.size() <= 4)
        return std::nullopt;

    // Three commas delimit user name, host name and address; without them nothing is read.
    const qsizetype comma1 = text.indexOf(u',', 5);
    const qsizetype comma2 = comma1 < 0 ? -1 : text.indexOf(u',', comma1 + 1);
    const qsizetype comma3 = comma2 < 0 ? -1 : text.indexOf(u',', comma2 + 1);
    if (comma3 < 0)
        return std::nullopt;

    const Kind *kind = findKind(QStringView(text).left(3));
    if (!kind)
        return std::nullopt;
    const QStringView all(text);
    const QStringView address = all.sliced(comma2 + 1, comma3 - comma2 - 1);
    if (!isUnicastAddress(address))
        return std::nullopt;

    const auto field = [previous](QString ParsedMessage::*member, QStringView value) {
        if (previous && previous->*member == value)
            return previous->*member;
        return value.toString();
    };
    ParsedMessage message;
    message.code = field(&ParsedMessage::code, all.left(3));
    message.deskFlag = field(&ParsedMessage::deskFlag, all.sliced(4, 1));
    message.userName = field(&ParsedMessage::userName, all.sliced(5, comma1 - 5));
    message.hostName = field(&ParsedMessage::hostName, all.sliced(comma1 + 1, comma2 - comma1 - 1));
    message.address = field(&ParsedMessage::address, address);

    switch (kind->tail) {
    case Tail::StartTimeToEnd:
        message.startTime = field(&ParsedMessage::startTime, all.sliced(comma3 + 1));
        break;
    case Tail::StartTimeAndPayload: {
        const qsizetype comma4 = text.indexOf(u',', comma3 + 1);
        if (comma4 < 0)
            return std::nullopt;
        message.startTime = field(&ParsedMessage::startTime, all.sliced(comma3 + 1, comma4 - comma3 - 1));
        message.payload = text.mid(comma4 + 1);
        break;
    }
    case Tail::Nothing:
        break;
    }
    return message;
}

QString displayName(const QString &userName, const QString &hostName)
{
    return userName.isEmpty() ? hostName : userName;
}

} // namespace vorlan
