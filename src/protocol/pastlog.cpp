#include "protocol/pastlog.h"

#include "net/udpendpoint.h"
#include "base/codec.h"

namespace vorlan {

QString pastLogReplyText(const QString &viewText, bool viewTextStartsLine)
{
    const qsizetype from = qMax<qsizetype>(0, viewText.size() - PastLogScan);
    const QStringView scan = QStringView(viewText).sliced(from);
    const bool startsLine = from == 0 ? viewTextStartsLine : viewText[from - 1] == u'\n';
    QString reply;
    reply.reserve(scan.size());
    qsizetype start = 0;
    if (!startsLine) {
        const qsizetype feed = scan.indexOf(u'\n');
        start = feed < 0 ? scan.size() : feed + 1;
    }
    for (qsizetype feed = scan.indexOf(u'\n', start); feed >= 0; feed = scan.indexOf(u'\n', start)) {
        const QStringView line = scan.mid(start, feed - start + 1);
        if (line.size() < 9 || line[8] != u'[')
            reply += line;
        start = feed + 1;
    }
    return reply.right(PastLogKeep);
}

QString fitPastLogReply(const Identity &id, const QString &reply)
{
    const qsizetype budget = UdpEndpoint::MaxDatagram - cp932Length(buildPastLogReply(id, QString()));
    if (cp932Length(reply) <= budget)
        return reply;
    if (budget <= 0)
        return QString();

    // The smallest start whose suffix fits: the encoded length only shrinks as the start grows.
    qsizetype low = 1;
    qsizetype high = reply.size();
    while (low < high) {
        const qsizetype middle = (low + high) / 2;
        if (cp932Length(reply.mid(middle)) <= budget)
            high = middle;
        else
            low = middle + 1;
    }
    qsizetype start = low;
    // Prefer a whole line: move on to the next line start, if there is one.
    const qsizetype feed = reply.indexOf(u'\n', start - 1);
    if (feed >= 0 && feed + 1 < reply.size())
        start = feed + 1;
    else if (start < reply.size() && reply[start].isLowSurrogate())
        ++start;
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
