#include "history/searchfold.h"

#include "base/codec.h"

#include <QHash>

#include <array>
#include <optional>

namespace vorlan {

namespace {

constexpr char32_t VoicedMark = 0xFF9E;     // ﾞ
constexpr char32_t SemiVoicedMark = 0xFF9F; // ﾟ

// Half-width katakana and punctuation, U+FF61 to U+FF9F, in their full-width forms.
constexpr std::array<char16_t, 63> FullWidthKana = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9,
    0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB,
    0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1,
    0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5,
    0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,
};

bool isHalfWidthKana(char32_t c)
{
    return c >= 0xFF61 && c <= 0xFF9F;
}

// A half-width kana and the mark after it as one full-width katakana (ｶﾞ to ガ, ﾊﾟ to パ).
std::optional<char32_t> composeHalfWidth(char32_t base, char32_t mark)
{
    if (!isHalfWidthKana(base))
        return std::nullopt;
    const char32_t full = FullWidthKana[base - 0xFF61];
    const bool voicable = (full >= 0x30AB && full <= 0x30C8) || (full >= 0x30CF && full <= 0x30DB);
    if (mark == VoicedMark) {
        if (full == 0x30A6) // ウ
            return 0x30F4;  // ヴ
        // カ to ト and ハ to ホ, each followed by its voiced form (ッ sits among them but is
        // not a base: its next code point is ツ).
        if (voicable && full != 0x30C3 && (full < 0x30CF || (full - 0x30CF) % 3 == 0))
            return full + 1;
    } else if (mark == SemiVoicedMark && full >= 0x30CF && full <= 0x30DB && (full - 0x30CF) % 3 == 0) {
        return full + 2;
    }
    return std::nullopt;
}

char32_t foldOne(char32_t c, bool kana)
{
    if (c >= 0xFF01 && c <= 0xFF5E)
        c -= 0xFEE0;
    else if (c == 0x3000)
        c = u' ';
    else if (c == 0xFFE5) // ￥
        c = u'\\';
    else if (isHalfWidthKana(c))
        c = FullWidthKana[c - 0xFF61];
    if (c >= u'A' && c <= u'Z')
        c += u'a' - u'A';
    if (kana) {
        if (c >= 0x30A1 && c <= 0x30F6)
            c -= 0x60;
        else if (c == 0x30FD || c == 0x30FE) // ヽ ヾ
            c -= 0x60;
    }
    return c;
}

bool isLeadByte(unsigned byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

using SpellingTable = QHash<char32_t, QList<Cp932Spelling>>;

// Every character code page 932 can write, each with its bytes, decoded in one go: the single
// bytes and every lead and trail byte pair, one to a line.
QList<std::pair<char32_t, QByteArray>> everyCp932Character()
{
    QList<QByteArray> sequences;
    for (unsigned byte = 0x20; byte <= 0xFF; ++byte) {
        if (!isLeadByte(byte))
            sequences.append(QByteArray(1, char(byte)));
    }
    sequences.append(QByteArray("\t"));
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLeadByte(lead))
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail != 0x7F) {
                const char pair[2] = {char(lead), char(trail)};
                sequences.append(QByteArray(pair, 2));
            }
        }
    }
    const QStringList decoded = decodeCp932(sequences.join('\n')).split(u'\n');
    QList<std::pair<char32_t, QByteArray>> characters;
    for (qsizetype i = 0; i < sequences.size() && i < decoded.size(); ++i) {
        const QString &text = decoded[i];
        // A pair that is no character decodes to two (a replacement, then the trail byte).
        if (text.size() == 1 && text[0] != QChar::ReplacementCharacter)
            characters.append({text[0].unicode(), sequences[i]});
    }
    return characters;
}

SpellingTable buildTable(bool kana)
{
    SpellingTable table;
    const QList<std::pair<char32_t, QByteArray>> characters = everyCp932Character();
    for (const auto &[c, bytes] : characters) {
        Cp932Spelling spelling{bytes, {}};
        for (const char32_t mark : {VoicedMark, SemiVoicedMark}) {
            if (composeHalfWidth(c, mark)) {
                const char markByte = char(mark - 0xFF61 + 0xA1);
                spelling.notFollowedBy.append(markByte);
                table[foldOne(*composeHalfWidth(c, mark), kana)].append({bytes + markByte, {}});
            }
        }
        table[foldOne(c, kana)].append(spelling);
    }
    return table;
}

const SpellingTable &tableFor(bool kana)
{
    if (kana) {
        static const SpellingTable withKana = buildTable(true);
        return withKana;
    }
    static const SpellingTable plain = buildTable(false);
    return plain;
}

} // namespace

QString foldForSearch(QStringView text, bool kana)
{
    QString folded;
    folded.reserve(text.size());
    const auto units = text.toUcs4();
    for (qsizetype i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (i + 1 < units.size()) {
            if (const std::optional<char32_t> composed = composeHalfWidth(c, units[i + 1])) {
                c = *composed;
                ++i;
            }
        }
        const char32_t f = foldOne(c, kana);
        folded.append(QString::fromUcs4(&f, 1));
    }
    return folded;
}

const QList<Cp932Spelling> &cp932Spellings(char32_t folded, bool kana)
{
    static const QList<Cp932Spelling> none;
    const SpellingTable &table = tableFor(kana);
    const auto it = table.constFind(folded);
    return it == table.constEnd() ? none : *it;
}

} // namespace vorlan
