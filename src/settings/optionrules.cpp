#include "settings/optionrules.h"

#include "base/codec.h"
#include "protocol/message.h"

#include <algorithm>
#include <limits>

namespace vorlan {

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

qint32 leadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    constexpr qint64 ceiling = qint64(std::numeric_limits<qint32>::max()) + 1;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = std::min(ceiling, value * 10 + (text[i].unicode() - u'0'));
    if (negative)
        value = -value;
    return qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

QString flashFieldText(const QString &text)
{
    const qint32 value = leadingNumber(text);
    if (value < 0 || value > 10)
        return QStringLiteral("10");
    return text;
}

qint16 flashMinutesFromText(const QString &text)
{
    return qint16(std::clamp<qint32>(leadingNumber(text), std::numeric_limits<qint16>::min(),
                                     std::numeric_limits<qint16>::max()));
}

bool addAddress(QStringList &list, const QString &typed)
{
    const QString address = trimSpaces(typed);
    if (address.isEmpty() || list.contains(address, Qt::CaseSensitive))
        return false;
    list.append(address);
    return true;
}

QString keywordTextFromList(const QStringList &keywords)
{
    QString text;
    for (const QString &keyword : keywords)
        text += keyword + QStringLiteral("\r\n");
    return text;
}

QStringList keywordsFromText(QString text)
{
    if (text.size() > 1 && text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    if (text.isEmpty())
        return {};
    return text.split(QStringLiteral("\r\n"));
}

qint16 soundFromBoxes(bool beep, bool receiveWave, bool importantWave)
{
    qint16 sound = 0;
    if (beep)
        sound = 1;
    if (receiveWave)
        sound = 2;
    if (importantWave)
        sound = 3;
    return sound;
}

int actionButton(qint16 action)
{
    return action >= 0 && action <= 2 ? action : 0;
}

QString userNameFieldText(const QString &stored)
{
    return fitUserName(stored);
}

bool userNameAcceptable(const QString &text)
{
    return !text.contains(u',') && cp932Length(text) <= UserNameMaxBytes;
}

int userNameMaxLength(const QString &fieldText)
{
    return std::max<int>(UserNameTypedLength, int(fieldText.size()));
}

qint16 autoAwayMinutes(qint32 stored)
{
    return qint16(std::clamp(stored, 0, AutoAwayMaxMinutes));
}

QString flagText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace vorlan
