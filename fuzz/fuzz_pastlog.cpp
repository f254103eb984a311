// The display of a received past log: arbitrary payload bytes after a valid PastLogReply
// header, into a real conversation view, and the reply this view then gives to a request.

#include "base/codec.h"
#include "conversation/conversationview.h"
#include "fuzzsupport.h"
#include "net/udpendpoint.h"
#include "app/dispatcher.h"
#include "protocol/pastlog.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"
#include "support/testsupport.h"

using namespace vorlan;
using vorlan::fuzz::require;

namespace {

// The segments are the payload from its start, without gaps, up to the last line that has a tab.
QString segmentsCoveringThePayload(const QString &payload)
{
    QString joined;
    for (const PastLogSegment &segment : pastLogSegments(payload))
        joined += segment.head + segment.tail;
    require(payload.startsWith(joined), "the segments are not the payload's start");
    require(!QStringView(payload).sliced(joined.size()).contains(u'\t'), "a line with a tab was left out");
    return joined;
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
    const QString payload = decodeCp932(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    // What the program keeps of it: every character, those that would break its lines (all but
    // its CR LF pairs) each replaced by one U+FFFD.
    const QString kept = crLfLines(payload);
    require(kept.size() == payload.size(), "the received past log lost or gained characters");
    const QString segments = segmentsCoveringThePayload(kept);

    MemberList members;
    ConversationView view;
    Identity me;
    me.userName = QStringLiteral("taro");
    me.hostName = QStringLiteral("pc01");
    me.address = QStringLiteral("192.168.0.5");
    me.startTime = QStringLiteral("09:00:00");
    RunningSettings settings;
    settings.LogEnabled = 1;
    test::FakeClock clock;
    test::RecordingSender sender;
    QList<QStringList> logged;

    Dispatcher::Hooks hooks;
    hooks.send = sender.hook();
    hooks.writeLog = [&](const QStringList &items) { logged.append(items); };
    hooks.alert = [](QStringView, const QString &, const QString &) {};
    hooks.showTitle = [] {};
    Dispatcher dispatcher(members, view, me, settings, clock, hooks);

    dispatcher.ProcessMessage(QStringLiteral("501 0hanako,pc02,192.168.0.7,08:30:00,") + payload,
                              QStringLiteral("192.168.0.7"));
    if (!payload.isEmpty()) {
        require(logged.size() == 1 && logged[0].size() == 3 && logged[0][1] == kept,
                "the received past log is not logged whole");
        require(view.conversationText().contains(segments), "the past log is not shown whole");
    }

    // The reply built from this view fits one datagram and is taken from its end.
    dispatcher.ProcessMessage(QStringLiteral("500 0jiro,pc03,192.168.0.9,"), QStringLiteral("192.168.0.9"));
    for (const test::RecordingSender::Datagram &reply : sender.sent)
        require(encodeCp932(reply.text).size() <= UdpEndpoint::MaxDatagram, "a reply too long to send");
    const QString text = pastLogReplyText(view.conversationText(), view.conversationTextStartsLine());
    require(text.size() <= PastLogKeep, "the reply text is longer than it may be");
    return 0;
}
