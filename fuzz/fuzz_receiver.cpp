// Received datagrams, as the endpoint hands them on with their source, through the address
// filter and the whole dispatch into a real conversation view, roster and presence (its alerts
// and notifications recorded). Replies go to a recording sender and are checked byte for byte:
// where they go, what they say, how much a source can get.

#include "base/codec.h"
#include "conversation/conversationview.h"
#include "fuzzsupport.h"
#include "net/datagram.h"
#include "net/udpendpoint.h"
#include "presence/presence.h"
#include "app/dispatcher.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"
#include "support/testsupport.h"

#include <QHash>

using namespace vorlan;
using vorlan::fuzz::require;

namespace {

const QString MyAddress = QStringLiteral("192.168.0.5");
const QString SegmentBroadcast = QStringLiteral("192.168.0.255");
const QString OtherOwnAddress = QStringLiteral("10.8.0.1");
const QString ThirdParty = QStringLiteral("192.168.0.66");

// The endpoint's reading of a datagram, by its own rule.
QString receivedText(const QByteArray &bytes)
{
    return decodeCp932(datagramText(bytes));
}

// Where a datagram came from: mostly the address its header names (an honest peer, or a host
// that forges its source to match), now and then another one, this host's own among them.
QString sourceOf(const QString &text, const QByteArray &bytes)
{
    const std::optional<ParsedMessage> header = parseMessage(text);
    const QString others[] = {ThirdParty, MyAddress, SegmentBroadcast, QStringLiteral("127.0.0.1")};
    if (header && bytes.size() % 5 != 0)
        return header->address;
    return others[bytes.size() % 4];
}

// Text a peer sent, as shown: one line (TAB allowed), or CR LF-ended lines.
bool oneLineEach(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
            continue;
        }
        if ((c < 0x20 && c != u'\t') || c == 0x85 || c == 0x2028 || c == 0x2029)
            return false;
    }
    return true;
}

// Remote text must reach the view as the characters it is, each line of it a line of the view.
void requirePlainLines(const ConversationView &view)
{
    require(view.toPlainText().size() <= view.conversationText().size(),
            "the view holds more than it was given");
    for (qsizetype line = 0; line <= view.lineCount(); ++line)
        require(oneLineEach(view.lineText(line)) && !view.lineText(line).contains(u'\n'),
                "a line of the view holds a line break");
    // The kept text may begin inside a line, between its CR and LF even: from the first whole
    // line on.
    const QString &kept = view.conversationText();
    const QStringView whole = kept.size() < ConversationView::KeptText
                                  ? QStringView(kept)
                                  : QStringView(kept).sliced(kept.indexOf(u'\n') + 1);
    require(oneLineEach(whole.toString()), "a peer broke a line of the view");
}

// A reply this program may send: its own header, a kind it answers with, one datagram.
void requireOwnReply(const test::RecordingSender::Datagram &reply, const QString &source)
{
    require(reply.address == source, "a reply went elsewhere than where its request came from");
    require(encodeCp932(reply.text).size() <= UdpEndpoint::MaxDatagram, "a reply too long to send");
    const std::optional<ParsedMessage> header = parseMessage(reply.text);
    require(header && header->address == MyAddress && header->userName == QStringLiteral("taro"),
            "a reply without this program's header");
    const QString &code = header->code;
    require(code == Code::JoinReply || code == Code::VersionReply || code == Code::PastLogRequest
                || code == Code::PastLogReply,
            "a reply of a kind nothing asks for");
    require(!(reply.address == MyAddress && (code == Code::JoinReply || code == Code::PastLogReply)),
            "answered itself");
    require(reply.address != SegmentBroadcast && reply.address != OtherOwnAddress
                && !reply.address.startsWith(QLatin1String("127.")),
            "a reply to a broadcast or this host's other address");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    vorlan::fuzz::startApplication();
    vorlan::fuzz::warmUp(LLVMFuzzerTestOneInput);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemberList members;
    ConversationView view;
    Identity me;
    me.userName = QStringLiteral("taro");
    me.hostName = QStringLiteral("pc01");
    me.address = MyAddress;
    me.startTime = QStringLiteral("09:00:00");
    RunningSettings settings;
    settings.Honorific = QStringLiteral("さん");
    settings.LogEnabled = 1;
    settings.NormalAction = 0;  // blink: caption, attention and a notification
    settings.KeywordAction = 1;
    settings.SpecifyAction = 0;
    settings.Notify = 1;
    const QStringList keywords = {QStringLiteral("会議"), QStringLiteral("boss")};
    test::FakeClock clock;
    test::RecordingSender sender;
    qint64 nowMs = 0;
    qsizetype loggedSize = 0;

    const QIcon icon;
    bool windowActive = false;
    QStringList shownTexts; // captions and notifications: what the desktop shows of peers
    Presence::Seams seams;
    seams.setIcon = [](const QIcon &) {};
    seams.setCaption = [&](const QString &caption) { shownTexts << caption; };
    seams.showTitle = [] {};
    seams.raiseWindow = [] {};
    seams.beep = [] {};
    seams.playSound = [](const QString &) {};
    seams.setDeskCaption = [](const QString &) {};
    seams.send = sender.hook();
    seams.pump = [] {};
    seams.requestAttention = [](qint32) {};
    seams.notify = [&](const QString &name, const QString &line) { shownTexts << name << line; };
    Presence presence({members, me, settings, keywords, {icon, icon, icon, icon}, windowActive}, seams);

    Dispatcher::Hooks hooks;
    hooks.send = sender.hook();
    hooks.writeLog = [&](const QStringList &items) {
        for (const QString &item : items)
            loggedSize += item.size();
        require(items.size() == 3 || oneLineEach(items.first()), "a peer broke a line of the log");
    };
    hooks.alert = [&](QStringView code, const QString &name, const QString &payload) {
        presence.alert(code, name, payload);
    };
    hooks.showTitle = [] {};
    hooks.nowMs = [&nowMs] { return nowMs; };
    Dispatcher dispatcher(members, view, me, settings, clock, hooks);
    dispatcher.setNonPeerAddresses({SegmentBroadcast, OtherOwnAddress}, true);

    const QList<QByteArray> datagrams = vorlan::fuzz::records(data, size);
    qint64 replyBytes = 0;
    QHash<QString, int> pastLogs;
    for (const QByteArray &datagram : datagrams) {
        const QString text = receivedText(datagram);
        const QString source = sourceOf(text, datagram);
        const qsizetype before = sender.sent.size();
        dispatcher.ProcessMessage(text, source);
        require(sender.sent.size() - before <= 1, "more than one reply to one datagram");
        for (qsizetype i = before; i < sender.sent.size(); ++i) {
            requireOwnReply(sender.sent[i], source);
            if (!sender.sent[i].text.startsWith(Code::PastLogRequest))
                replyBytes += encodeCp932(sender.sent[i].text).size();
            if (sender.sent[i].text.startsWith(Code::PastLogReply))
                ++pastLogs[source];
        }
        clock.advance(1);
        nowMs += 7;
    }
    view.flushLines();

    // What one datagram can cost: at most one reply within the budget, one roster row, and a
    // shown or logged text no longer than what came plus a fixed frame (time, name marks,
    // notices).
    const qsizetype count = datagrams.size();
    constexpr qsizetype Frame = 200;
    const qint64 seconds = nowMs / 1000 + 1;
    require(replyBytes <= ReplyBudget::BytesPerSecond * seconds, "replies beyond the budget");
    for (const int replies : std::as_const(pastLogs))
        require(replies <= ReplyBudget::PastLogPerAddress * seconds, "past logs beyond one address's budget");
    require(members.rowCount() <= count, "more roster rows than datagrams");
    require(view.conversationText().size() <= 2 * qsizetype(size) + Frame * count,
            "the view grew faster than the input");
    require(loggedSize <= 2 * qsizetype(size) + Frame * count, "the log grew faster than the input");
    for (const QString &shown : std::as_const(shownTexts))
        require(oneLineEach(shown) && !shown.contains(u'\r'), "a peer broke a line of a caption or notification");
    requirePlainLines(view);
    return 0;
}
