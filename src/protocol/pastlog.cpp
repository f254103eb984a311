#include "protocol/pastlog.h"

#include "net/udpendpoint.h"
#include "base/codec.h"

#include <QVarLengthArray>

namespace vorlan {

QString pastLogReplyText(const QString &viewText, bool viewTextStartsLine)
{
    const qsizetype from = qMax<qsizetype>(0, viewText.size() - PastLogScan);
    const QStringView scan = QStringView(viewText).sliced(from);
    const bool startsLine = from == 0 ? viewTextStartsLine : viewText[from - 1] == u'\n';
    qsizetype first = 0; // where the first whole line starts
    if (!startsLine) {
        const qsizetype feed = scan.indexOf(u'\n');
        first = feed < 0 ? scan.size() : feed + 1;
    }
    // The lines taken, newest first, until they hold all the reply keeps: what the scan holds
    // before them would be cut anyway.
    QVarLengthArray<QStringView, 64> lines;
    qsizetype taken = 0;
    for (qsizetype end = scan.lastIndexOf(u'\n') + 1; end > first && taken < PastLogKeep;) {
        const qsizetype start = end < 2 ? 0 : scan.lastIndexOf(u'\n', end - 2) + 1;
        const QStringView line = scan.sliced(start, end - start);
        if (line.size() < 9 || line[8] != u'[') {
            lines.append(line);
            taken += line.size();
        }
        end = start;
    }
    QString reply;
    reply.reserve(taken);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        reply += *line;
    return reply.right(PastLogKeep);
}

QString fitPastLogReply(const Identity &id, const QString &reply)
{
    const qsizetype budget = UdpEndpoint::MaxDatagram - cp932Length(buildPastLogReply(id, QString()));
    const QString end = cp932Right(reply, qMax<qsizetype>(0, budget));
    if (end.size() == reply.size())
        return reply;
    if (budget <= 0)
        return QString();
    // Prefer a whole line: move on to the next line start, if there is one.
    qsizetype start = reply.size() - end.size();
    const qsizetype feed = reply.indexOf(u'\n', start - 1);
    if (feed >= 0 && feed + 1 < reply.size())
        start = feed + 1;
    return reply.mid(start);
}

QList<PastLogSegment> pastLogSegments(const QString &payload)
{
    QList<PastLogSegment> segments;
    qsizetype position = 0;
    for (;;) {
        const qsizetype tab = payload.indexOf(u'\t', position);
        if (tab < 0)
            break;
        PastLogSegment segment;
        segment.head = payload.mid(position, tab - position);
        const qsizetype lineEnd = payload.indexOf(QLatin1String("\r\n"), tab);
        if (lineEnd < 0) {
            segment.tail = payload.mid(tab);
            segments.append(segment);
            break;
        }
        segment.tail = payload.mid(tab, lineEnd - tab);
        segments.append(segment);
        position = lineEnd;
    }
    return segments;
}

} // namespace vorlan
