#pragma once

#include "base/clock.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>

// Failures show texts as text, not as arrays of 16-bit units.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace vorlan::test {

// Lets events run until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()> &condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A clock that stands still until the test moves it.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0)))
        : m_now(std::move(now)) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &now) { m_now = now; }
    void advance(qint64 seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
};

// Stands in for SendDatagram: keeps every datagram handed to it, in order, and sends nothing.
class RecordingSender
{
public:
    struct Datagram
    {
        QString text;
        QString address;
        bool operator==(const Datagram &) const = default;

        friend void PrintTo(const Datagram &datagram, std::ostream *out)
        {
            *out << '"' << datagram.text.toStdString() << "\" to " << datagram.address.toStdString();
        }
    };

    std::function<void(const QString &, const QString &)> hook()
    {
        return [this](const QString &text, const QString &address) { sent.append({text, address}); };
    }

    QStringList texts() const
    {
        QStringList result;
        for (const Datagram &datagram : sent)
            result.append(datagram.text);
        return result;
    }

    QStringList addresses() const
    {
        QStringList result;
        for (const Datagram &datagram : sent)
            result.append(datagram.address);
        return result;
    }

    void clear() { sent.clear(); }

    QList<Datagram> sent;
};

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

} // namespace vorlan::test
