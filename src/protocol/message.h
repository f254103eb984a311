#pragma once

#include <QString>
#include <optional>

namespace vorlan {

// The twelve message kinds, by their three-digit code.
namespace Code {
inline constexpr QStringView Chat = u"100";
inline constexpr QStringView DirectedChat = u"101";
inline constexpr QStringView Join = u"201";
inline constexpr QStringView JoinReply = u"202";
inline constexpr QStringView Rejoin = u"203";
inline constexpr QStringView Leave = u"301";
inline constexpr QStringView DeskNotice = u"402";
inline constexpr QStringView NameNotice = u"404";
inline constexpr QStringView VersionRequest = u"405";
inline constexpr QStringView VersionReply = u"406";
inline constexpr QStringView PastLogRequest = u"500";
inline constexpr QStringView PastLogReply = u"501";
} // namespace Code

// The sender identity every message carries: DeskFlag, MyUserName, MyHostName, MyAddress and
// MyStartTime as they are at the moment of sending.
struct Identity
{
    QString deskFlag = QStringLiteral("0");
    QString userName;
    QString hostName;
    QString address;
    QString startTime;
};

// The desktop peers never send or read a user name longer than this many bytes of code page 932.
inline constexpr qsizetype MaxUserNameBytes = 126;

// MyUserName as it may be used: without commas (a comma would shift every receiver's header
// fields) and cut to MaxUserNameBytes at a character boundary. Wherever the user name enters
// (the settings file, the options) it goes through here.
QString fitUserName(const QString &name);

// "V1.2.9": what this program answers to a version request.
QString versionText();
// "Vorlan V1.2.9": the caption before the member count is added.
QString programTitle();

// The common part: code, blank, desk flag, user name, host name, address and start time.
QString MessageHeader(QStringView code, const Identity &id);

QString buildChat(const Identity &id, const QString &line);
// recipients: display names joined by "," with no blanks.
QString buildDirectedChat(const Identity &id, const QString &recipients, const QString &line);
QString buildJoin(const Identity &id);
QString buildJoinReply(const Identity &id);
QString buildRejoin(const Identity &id);
QString buildLeave(const Identity &id);
QString buildDeskNotice(const Identity &id);
QString buildNameNotice(const Identity &id);
QString buildVersionRequest(const Identity &id);
QString buildVersionReply(const Identity &id);
QString buildPastLogRequest(const Identity &id);
QString buildPastLogReply(const Identity &id, const QString &conversation);

// A received message that passed the header rules.
struct ParsedMessage
{
    QString code;
    QString deskFlag;
    QString userName;
    QString hostName;
    QString address;
    QString startTime; // empty for the kinds that carry none to read (301, 405, 500)
    QString payload;   // only for 100, 101, 406 and 501
};

// Applies the receiver's header rules; nullopt for texts that fail them or carry an unknown code.
// Fields equal to those of `previous` share its strings: a flood comes from few senders, whose
// headers repeat.
std::optional<ParsedMessage> parseMessage(const QString &text, const ParsedMessage *previous = nullptr);

// Remote text made fit to show and log as one line: the control characters but TAB, and the
// characters that end a line (NEL, LINE and PARAGRAPH SEPARATOR), each become U+FFFD. A peer
// could otherwise forge whole lines, time and sender included, in the view and the log.
QString oneLine(const QString &text);
// The same for a received past log, whose lines are ended by CR LF: those pairs stay.
QString crLfLines(const QString &text);

// The name a member is shown by: its user name, or its host name when the user name is empty.
QString displayName(const QString &userName, const QString &hostName);

} // namespace vorlan
