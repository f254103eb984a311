#pragma once

#include <QString>
#include <QtGlobal>

namespace vorlan {

// Tells standard error about datagrams dropped for one reason: one line when a run of such
// drops begins, none while it goes on. A run ends after a quiet second, so a flood costs one
// line, not one per datagram, and a later flood is told again.
class DropReport
{
public:
    static constexpr qint64 QuietMs = 1000;

    explicit DropReport(QString text) : m_text(std::move(text)) {}

    // A datagram was dropped at nowMs (a monotonic clock); true when this began a run and the
    // line was written.
    bool dropped(qint64 nowMs);

private:
    QString m_text;
    qint64 m_last = 0;
    bool m_running = false;
};

} // namespace vorlan
