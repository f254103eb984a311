// Received datagrams, as the endpoint hands them on, through the header rules and the whole
// dispatch into a real conversation view and roster. Replies go to a recording sender.

#include "base/codec.h"
#include "conversation/conversationview.h"
#include "fuzzsupport.h"
#include "net/datagram.h"
#include "net/udpendpoint.h"
#include "protocol/dispatcher.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"
#include "support/testsupport.h"

#include <QTextBlock>
#include <QTextDocument>

using namespace vorlan;
using vorlan::fuzz::require;

namespace {

// The endpoint's reading of a datagram, by its own rule.
QString receivedText(const QByteArray &bytes)
{
    return decodeCp932(datagramText(bytes));
}

// Remote text must reach the view as plain characters: no images, no links, nothing the
// document would interpret.
void requirePlainDocument(const ConversationView &view)
{
    for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            require(!format.isImageFormat() && !format.isAnchor(), "remote text became markup");
        }
    }
    require(view.document()->toPlainText().size() <= view.conversationText().size(),
            "the document holds more than the view was given");
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
    me.address = QStringLiteral("192.168.0.5");
    me.startTime = QStringLiteral("09:00:00");
    RunningSettings settings;
    settings.Honorific = QStringLiteral("さん");
    settings.LogEnabled = 1;
    test::FakeClock clock;
    test::RecordingSender sender;
    qsizetype loggedSize = 0;

    Dispatcher::Hooks hooks;
    hooks.send = sender.hook();
    hooks.writeLog = [&](const QStringList &items) {
        for (const QString &item : items)
            loggedSize += item.size();
    };
    hooks.alert = [](QStringView, const QString &, const QString &) {};
    hooks.showTitle = [] {};
    Dispatcher dispatcher(members, view, me, settings, clock, hooks);

    const QList<QByteArray> datagrams = vorlan::fuzz::records(data, size);
    for (const QByteArray &datagram : datagrams) {
        dispatcher.ProcessMessage(receivedText(datagram));
        clock.advance(1);
    }

    // What one datagram can cost: at most one reply, one roster row, and a shown or logged text
    // no longer than what came plus a fixed frame (time, name marks, notices).
    const qsizetype count = datagrams.size();
    constexpr qsizetype Frame = 200;
    require(sender.sent.size() <= count, "more replies than datagrams");
    require(members.rowCount() <= count, "more roster rows than datagrams");
    require(view.conversationText().size() <= 2 * qsizetype(size) + Frame * count,
            "the view grew faster than the input");
    require(loggedSize <= 2 * qsizetype(size) + Frame * count, "the log grew faster than the input");
    for (const test::RecordingSender::Datagram &reply : sender.sent)
        require(encodeCp932(reply.text).size() <= UdpEndpoint::MaxDatagram, "a reply too long to send");
    requirePlainDocument(view);
    return 0;
}
