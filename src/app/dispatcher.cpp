#include "app/dispatcher.h"

#include "base/clock.h"
#include "base/codec.h"
#include "conversation/conversationview.h"
#include "protocol/pastlog.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"

#include <QStringBuilder>
#include <QElapsedTimer>

#include <array>
#include <utility>

namespace vorlan {

namespace {

const QString CrLf = QStringLiteral("\r\n");
const QChar Tab = u'\t';

QString pastLogMarker(const char *which, const QString &address)
{
    return QStringLiteral("---過去のログ受信 %1 (%2より)---").arg(QString::fromUtf8(which), address);
}

// A received message as it may be shown and logged: every field one line (a past log keeps its
// CR LF line ends).
ParsedMessage plainFields(ParsedMessage message)
{
    message.userName = oneLine(message.userName);
    message.hostName = oneLine(message.hostName);
    message.startTime = oneLine(message.startTime);
    message.deskFlag = oneLine(message.deskFlag);
    message.payload = message.code == Code::PastLogReply ? crLfLines(message.payload) : oneLine(message.payload);
    return message;
}

} // namespace

Dispatcher::Dispatcher(MemberList &members, ConversationView &view, const Identity &me,
                       const RunningSettings &settings, const Clock &clock, Hooks hooks)
    : m_members(members), m_view(view), m_me(me), m_settings(settings), m_clock(clock),
      m_hooks(std::move(hooks)),
      m_forged(QStringLiteral("recv:送信元と異なるアドレスを名乗るデータグラムは破棄します。")),
      m_overBudget(QStringLiteral("send:応答の上限を超えた要求には応答しません。"))
{
    if (!m_hooks.nowMs) {
        auto monotonic = std::make_shared<QElapsedTimer>();
        monotonic->start();
        m_hooks.nowMs = [monotonic] { return monotonic->elapsed(); };
    }
}

Dispatcher::Handler Dispatcher::handlerFor(QStringView code)
{
    static const std::array<std::pair<QStringView, Handler>, 12> table = {{
        {Code::Chat, &Dispatcher::onChat},
        {Code::DirectedChat, &Dispatcher::onDirectedChat},
        {Code::Join, &Dispatcher::onJoin},
        {Code::JoinReply, &Dispatcher::onJoinReply},
        {Code::Rejoin, &Dispatcher::onRejoin},
        {Code::Leave, &Dispatcher::onLeave},
        {Code::DeskNotice, &Dispatcher::onNotice},
        {Code::NameNotice, &Dispatcher::onNotice},
        {Code::VersionRequest, &Dispatcher::onVersionRequest},
        {Code::VersionReply, &Dispatcher::onVersionReply},
        {Code::PastLogRequest, &Dispatcher::onPastLogRequest},
        {Code::PastLogReply, &Dispatcher::onPastLogReply},
    }};
    for (const auto &[key, handler] : table) {
        if (key == code)
            return handler;
    }
    return nullptr;
}

void Dispatcher::ProcessMessage(const QString &text, const QString &source)
{
    const std::optional<ParsedMessage> message = parseMessage(text, &m_lastHeader);
    if (!message)
        return;
    m_lastHeader = *message;
    m_lastHeader.payload = QString();
    if (m_nonPeers.contains(message->address)
        || (m_refuseLoopback && message->address.startsWith(QLatin1String("127."))))
        return;
    if (message->address != source) {
        m_forged.dropped(nowMs());
        return;
    }
    if (const Handler handler = handlerFor(message->code))
        (this->*handler)(plainFields(*message));
}

qint64 Dispatcher::nowMs() const
{
    return m_hooks.nowMs();
}

void Dispatcher::reply(const QString &text, const QString &address, bool pastLog)
{
    const qint64 bytes = cp932Length(text);
    const bool allowed = pastLog ? m_budget.takePastLog(address, bytes, nowMs()) : m_budget.take(bytes, nowMs());
    if (!allowed) {
        m_overBudget.dropped(nowMs());
        return;
    }
    m_hooks.send(text, address);
}

void Dispatcher::setNonPeerAddresses(const QStringList &addresses, bool refuseLoopback)
{
    m_nonPeers = QSet<QString>(addresses.begin(), addresses.end());
    m_refuseLoopback = refuseLoopback;
}

// Formatting a time costs more than the rest of a line's head: done once a second.
QString Dispatcher::now() const
{
    const QDateTime time = m_clock.now();
    if (time != m_shownTime) {
        m_shownTime = time;
        m_shownTimeText = time.toString(QStringLiteral("HH:mm:ss"));
    }
    return m_shownTimeText;
}

void Dispatcher::updateMember(const ParsedMessage &message)
{
    m_members.UpdateMember(message.deskFlag, message.userName, message.hostName, message.address,
                           message.startTime);
}

void Dispatcher::showLine(const QString &head, const QString &tail)
{
    m_view.AppendLine(head, colorFromWindowsValue(m_settings.MessageColor));
    m_view.AppendLine(tail, ConversationView::TextColor);
}

void Dispatcher::log(const QStringList &items)
{
    if (m_settings.LogEnabled == 1 && m_hooks.writeLog)
        m_hooks.writeLog(items);
}

void Dispatcher::onChat(const ParsedMessage &message)
{
    updateMember(message);
    const QString name = displayName(message.userName, message.hostName);
    const QString head = now() % u' ' % name % u"->" % Tab;
    showLine(head, message.payload % CrLf);
    log({head % message.payload});
    if (m_hooks.alert)
        m_hooks.alert(Code::Chat, name, message.payload);
}

void Dispatcher::onDirectedChat(const ParsedMessage &message)
{
    updateMember(message);
    const QString head = now() % u'[' % message.userName % u"]->" % Tab;
    showLine(head, message.payload % CrLf);
    log({head % message.payload});
    if (m_hooks.alert)
        m_hooks.alert(Code::DirectedChat, message.userName, message.payload);
}

void Dispatcher::onJoin(const ParsedMessage &message)
{
    const bool known = m_members.contains(message.address);
    updateMember(message);
    if (!known) {
        const QString line = now() + Tab;
        const QString notice = displayName(message.userName, message.hostName) + m_settings.Honorific
                               + QStringLiteral("が参加しました。");
        showLine(line, notice + CrLf);
        log({line + notice});
    }
    replyToJoin(message);
}

void Dispatcher::replyToJoin(const ParsedMessage &message)
{
    if (message.address != m_me.address)
        reply(buildJoinReply(m_me), message.address);
}

void Dispatcher::onJoinReply(const ParsedMessage &message)
{
    updateMember(message);
    if (message.address != m_me.address && !m_pastLogAsked) {
        m_pastLogAsked = true;
        m_hooks.send(buildPastLogRequest(m_me), message.address);
    }
}

void Dispatcher::onRejoin(const ParsedMessage &message)
{
    updateMember(message);
    replyToJoin(message);
}

void Dispatcher::onLeave(const ParsedMessage &message)
{
    if (!m_members.RemoveMember(message.address))
        return;
    const QString line = now() + Tab;
    const QString notice = displayName(message.userName, message.hostName) + m_settings.Honorific
                           + QStringLiteral("が退席しました。");
    showLine(line, notice + CrLf);
    log({line + notice});
    if (m_hooks.showTitle)
        m_hooks.showTitle();
}

void Dispatcher::onNotice(const ParsedMessage &message)
{
    updateMember(message);
}

void Dispatcher::onVersionRequest(const ParsedMessage &message)
{
    reply(buildVersionReply(m_me), message.address);
}

void Dispatcher::onVersionReply(const ParsedMessage &message)
{
    updateMember(message);
    m_members.SetMemberInformation(message.address, message.payload);
}

QString Dispatcher::pastLogReply() const
{
    return fitPastLogReply(m_me, pastLogReplyText(m_view.conversationText(), m_view.conversationTextStartsLine()));
}

void Dispatcher::onPastLogRequest(const ParsedMessage &message)
{
    // Answering itself would show and log its own past log again: a few bytes in, kilobytes on
    // disk, for anyone who sends this peer its own address.
    if (message.address == m_me.address)
        return;
    reply(buildPastLogReply(m_me, pastLogReply()), message.address, true);
}

void Dispatcher::onPastLogReply(const ParsedMessage &message)
{
    updateMember(message);
    if (message.payload.isEmpty() || message.address == m_me.address)
        return;
    const QString start = pastLogMarker("開始", message.address);
    const QString end = pastLogMarker("終了", message.address);
    m_view.AppendLine(Tab + start + CrLf);
    const QColor headColor = colorFromWindowsValue(m_settings.MessageColor);
    for (const PastLogSegment &segment : pastLogSegments(message.payload)) {
        m_view.AppendLine(segment.head, headColor);
        m_view.AppendLine(segment.tail, ConversationView::TextColor);
    }
    m_view.AppendLine(CrLf);
    m_view.AppendLine(Tab + end + CrLf);
    log({start, message.payload, end});
}

} // namespace vorlan
