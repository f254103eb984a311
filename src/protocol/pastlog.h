#pragma once

#include "protocol/message.h"

#include <QList>
#include <QString>

namespace vorlan {

// How much of the conversation a past-log reply looks at, and the most it carries.
inline constexpr qsizetype PastLogScan = 8192;
inline constexpr qsizetype PastLogKeep = 2048;

// The conversation text of a past-log reply, from the end of the view's text: the lines of the
// last 8192 characters whose ninth character is not "[" (directed lines never leave this way),
// each with its line end, text after the last line feed left out, cut to the last 2048. A line
// those 8192 characters hold only the end of is left out too: without its start nobody can
// tell whether it was directed. viewTextStartsLine tells whether viewText itself begins where a
// line does (at the conversation's start or right after a line feed).
QString pastLogReplyText(const QString &viewText, bool viewTextStartsLine);

// Cuts reply further from its front, at a line start where it can, until the whole reply
// message built for id fits in one datagram the desktop peers accept.
QString fitPastLogReply(const Identity &id, const QString &reply);

// One received line of a past log, re-coloured like a local line: the head (everything before
// its tab, the preceding line break included) and the tail (from the tab to the line's end).
struct PastLogSegment
{
    QString head;
    QString tail;
};

// Splits a received past log into its segments; text after the last tab's line is dropped.
// A tab with no later CR LF takes the rest of the text as its tail.
QList<PastLogSegment> pastLogSegments(const QString &payload);

} // namespace vorlan
