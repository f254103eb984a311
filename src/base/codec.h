#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace vorlan {

// Code page 932 (Shift-JIS), the encoding of the wire, the settings file and the log files.
// Encoding uses iconv "CP932" plus the best-fit table of the desktop peers (accented Latin
// letters to their base letter, and so on); anything else that cannot be encoded becomes "?".
// Decoding turns bytes that are not valid code page 932 into U+FFFD, except the single bytes
// 80, A0 and FD-FF, which decode as the desktop peers decode them (U+0080, U+F8F0-U+F8F3).
// Neither ever fails.
QByteArray encodeCp932(const QString &text);
QString decodeCp932(const QByteArray &bytes);

// A stretch of a text, in UTF-16 units.
struct TextRange
{
    qsizetype start;
    qsizetype length;
    bool operator==(const TextRange &) const = default;
};

// Where the text holds characters that code page 932 cannot carry, neither by the converter nor
// by the best-fit table: encodeCp932 sends each of them as "?". One range per character.
QList<TextRange> cp932Unmapped(QStringView text);

// Byte length of the text once encoded, without building it.
qsizetype cp932Length(const QString &text);

// The longest start of text whose encoding takes at most maxBytes, cut between characters (a
// double-byte character or a surrogate pair is never parted).
QString cp932Left(const QString &text, qsizetype maxBytes);
// The longest end of text whose encoding takes at most maxBytes, cut between characters.
QString cp932Right(const QString &text, qsizetype maxBytes);

} // namespace vorlan
