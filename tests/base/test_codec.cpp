#include "base/codec.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <atomic>
#include <thread>
#include <vector>

using vorlan::cp932Left;
using vorlan::cp932Length;
using vorlan::cp932Right;
using vorlan::decodeCp932;
using vorlan::encodeCp932;

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

QString units(std::initializer_list<char16_t> list)
{
    QString s;
    for (char16_t u : list)
        s.append(QChar(u));
    return s;
}

const QChar kReplacement(0xFFFD);

} // namespace

// --- Text that code page 932 can carry comes back unchanged ---

TEST(Cp932RoundTrip, JapaneseTextSurvives)
{
    const QString text = QStringLiteral("こんにちは、世界。カタカナ漢字ＡＢＣ１２３");
    const QByteArray bytes = encodeCp932(text);
    EXPECT_EQ(bytes.left(4), hex("82B182F1"));
    EXPECT_EQ(decodeCp932(bytes), text);
}

TEST(Cp932RoundTrip, HalfWidthKatakanaIsOneByteEach)
{
    const QString text = QStringLiteral("ｺﾝﾆﾁﾊ ｶﾞｰﾄﾞ｡");
    const QByteArray bytes = encodeCp932(text);
    EXPECT_EQ(bytes, hex("BADDC6C1CA20B6DEB0C4DEA1"));
    EXPECT_EQ(decodeCp932(bytes), text);
}

TEST(Cp932RoundTrip, ExtendedKanjiUsesTheVendorRows)
{
    EXPECT_EQ(encodeCp932(QStringLiteral("髙")), hex("FBFC"));
    EXPECT_EQ(decodeCp932(hex("FBFC")), QStringLiteral("髙"));
    EXPECT_EQ(decodeCp932(hex("8740")), QStringLiteral("①"));
}

TEST(Cp932RoundTrip, AsciiIncludingControlsAndNulIsByteForByte)
{
    QString text;
    QByteArray expected;
    for (int c = 0; c < 0x80; ++c) {
        text.append(QChar(c));
        expected.append(char(c));
    }
    EXPECT_EQ(encodeCp932(text), expected);
    EXPECT_EQ(decodeCp932(expected), text);
    // The same characters beside one that is not ASCII take the converter: the same bytes.
    EXPECT_EQ(encodeCp932(text + QStringLiteral("漢")), expected + hex("8ABF"));
    EXPECT_EQ(encodeCp932(QStringLiteral("漢") + text), hex("8ABF") + expected);
}

TEST(Cp932RoundTrip, EmptyStaysEmpty)
{
    EXPECT_TRUE(encodeCp932(QString()).isEmpty());
    EXPECT_TRUE(decodeCp932(QByteArray()).isEmpty());
    EXPECT_EQ(cp932Length(QString()), 0);
}

TEST(Cp932RoundTrip, LongTextCrossesInternalBuffers)
{
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += QStringLiteral("あｱa");
    const QByteArray bytes = encodeCp932(text);
    EXPECT_EQ(bytes.size(), 3000 * 4);
    EXPECT_EQ(decodeCp932(bytes), text);
}

// --- What encodeCp932 makes of text with no character of its own in code page 932 ---

TEST(Cp932Encode, FoldsTakesTheBestFitOrOneQuestionMarkPerCodePoint)
{
    const struct
    {
        const char *why;
        QString text;
        const char *bytes;
    } cases[] = {
        // Several Unicode characters share one code page 932 character, as in the converter.
        {"wave dash", QString(QChar(0x301C)), "8160"},
        {"full-width tilde", QString(QChar(0xFF5E)), "8160"},
        {"double bars", units({0x2016, 0x2225}), "81618161"},
        {"minus signs", units({0x2212, 0xFF0D}), "817C817C"},
        {"dashes", units({0x2014, 0x2015}), "815C815C"},
        {"overline and yen", units({0x203E, 0x00A5}), "7E5C"},
        // Characters without a mapping take the peers' best fit.
        {"accent lost", QStringLiteral("café"), "63616665"},
        {"accents lost", QStringLiteral("ÀÉÎÕÜß"), "4145494F5573"},
        {"double-byte fit «", QStringLiteral("«"), "81E1"},
        {"double-byte fit »", QStringLiteral("»"), "81E2"},
        {"double-byte fit ゔ", QStringLiteral("ゔ"), "8394"},
        {"double-byte fit µ", QStringLiteral("µ"), "83CA"},
        {"table edge U+0080", QString(QChar(0x0080)), "80"},
        {"table edge U+F8F0", QString(QChar(0xF8F0)), "A0"},
        {"table edge U+F8F3", QString(QChar(0xF8F3)), "FF"},
        // Neighbours of table entries that are in neither the table nor the converter.
        {"beside the table U+0081", QString(QChar(0x0081)), "3F"},
        {"beside the table U+F8F4", QString(QChar(0xF8F4)), "3F"},
        {"surrounding text kept", QStringLiteral("日«本»語"), "93FA81E1967B81E28CEA"},
        // Anything else is one "?" per code point.
        {"emoji", QStringLiteral("😀"), "3F"},
        {"emoji between kana", QStringLiteral("あ😀😀い"), "82A03F3F82A2"},
        {"unmapped BMP characters", QStringLiteral("한Āa"), "3F3F61"},
        {"lone high surrogate", units({0xD800}), "3F"},
        {"lone low surrogate", units({'a', 0xDC00, 'b'}), "613F62"},
        // A high surrogate followed by an ordinary character must not swallow it.
        {"high surrogate before a letter", units({0xD83D, 'x'}), "3F78"},
        {"reversed pair: two lone surrogates", units({0xDE00, 0xD83D}), "3F3F"},
        {"high surrogate at the end", units({0x3042, 0xD83D}), "82A03F"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(encodeCp932(c.text), hex(c.bytes));
    }
}

// --- What decodeCp932 makes of bytes; what is not code page 932 is U+FFFD, one per bad byte ---

TEST(Cp932Decode, TakesTheConvertersCharacterAndOneReplacementPerBadByte)
{
    const struct
    {
        const char *why;
        const char *bytes;
        QString text;
    } cases[] = {
        {"8160 is the full-width tilde", "8160", QString(QChar(0xFF5E))},
        {"stray byte", "85", QString(kReplacement)},
        {"stray byte between neighbours", "61" "85" "82A0", QStringLiteral("a\uFFFDあ")},
        {"lead byte with a bad trail keeps the trail", "812061", QStringLiteral("\uFFFD a")},
        // An unassigned pair: only its first byte is dropped, so the second byte starts over,
        // here as the lead byte of a valid character, there as plain ASCII.
        {"unassigned pair before a lead byte", "8582A0", QStringLiteral("\uFFFDあ")},
        {"unassigned pair with an ASCII trail", "8540", QStringLiteral("\uFFFD@")},
        {"lead byte cut off at the end", "82A082", QStringLiteral("あ\uFFFD")},
        {"lone lead byte", "82", QString(kReplacement)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(decodeCp932(hex(c.bytes)), c.text);
    }
}

// Clean text decodes by table lookups, text with a bad byte in the converter's way: every byte
// and byte pair decodes the same either way, alone and between neighbours.
TEST(Cp932Decode, LookupsAgreeWithTheConverterOnEveryByteAndPair)
{
    const QByteArray bad = hex("85");
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = -1; trail <= 0xFF; ++trail) {
            QByteArray bytes = "a" + QByteArray(1, char(lead));
            if (trail >= 0)
                bytes += char(trail);
            bytes += "b";
            const QString slow = decodeCp932(bad + bytes).mid(1);
            ASSERT_EQ(decodeCp932(bytes), slow) << lead << " " << trail;
        }
    }
}

TEST(Cp932SingleBytes, DecodeAsThePeersDoSoTheRoundTripIsClosed)
{
    const QByteArray bytes = hex("61" "80" "82A0" "A0" "FD" "FE" "FF" "62");
    const QString text = decodeCp932(bytes);
    EXPECT_EQ(text, QStringLiteral("a\u0080あ\uF8F0\uF8F1\uF8F2\uF8F3b"));
    EXPECT_EQ(encodeCp932(text), bytes);
}

TEST(Cp932Invalid, BadBytesDeepInALongBuffer)
{
    QByteArray bytes;
    QString expected;
    for (int i = 0; i < 2500; ++i) {
        bytes += hex("82A0");
        expected += QStringLiteral("あ");
        if (i % 700 == 699) {
            bytes += hex("85");
            expected += kReplacement;
        }
    }
    EXPECT_EQ(decodeCp932(bytes), expected);
}

// --- Length, consistency and robustness ---

TEST(Cp932Length, MatchesTheEncodedSize)
{
    for (const QString &text : {QStringLiteral("abc"), QStringLiteral("こんにちは"),
                                QStringLiteral("ｱｲｳ"), QStringLiteral("café«😀"),
                                units({0xD800, 'a', 0xDC00})}) {
        EXPECT_EQ(cp932Length(text), encodeCp932(text).size()) << text.toStdString();
    }
    EXPECT_EQ(cp932Length(QStringLiteral("あｱa😀«")), 2 + 1 + 1 + 1 + 2);
}

TEST(Cp932Robustness, RandomTextEncodesLikeItsPiecesAndNeverFails)
{
    // Mixed runs must encode exactly as each code point would alone: the fallback around
    // a failure must neither drop nor repeat what the converter already produced.
    QRandomGenerator rng(932);
    const char16_t pool[] = {'a', 0x3042, 0xFF71, 0x9AD9, 0x00E9, 0x00AB, 0xD83D, 0xDE00,
                             0xD55C, 0x301C, 0x0080, 0xF8F2, 0x0000, 0xFFFF};
    for (int round = 0; round < 200; ++round) {
        QString text;
        const int length = rng.bounded(1, 300);
        for (int i = 0; i < length; ++i)
            text.append(QChar(pool[rng.bounded(int(std::size(pool)))]));

        QByteArray pieces;
        for (qsizetype i = 0; i < text.size();) {
            const bool pair = text[i].isHighSurrogate() && i + 1 < text.size()
                              && text[i + 1].isLowSurrogate();
            const qsizetype n = pair ? 2 : 1;
            pieces += encodeCp932(text.mid(i, n));
            i += n;
        }
        ASSERT_EQ(encodeCp932(text), pieces) << "round " << round;
        ASSERT_EQ(cp932Length(text), pieces.size());
    }
}

TEST(Cp932Cut, EitherEndKeepsTheMostWholeCharactersThatFit)
{
    // Single and double bytes, a best fit, question marks for a pair and a broken surrogate.
    QRandomGenerator rng(1932);
    const char16_t pool[] = {'a', 0x3042, 0xFF71, 0x00E9, 0xD83D, 0xDE00, 0xD55C, 0xFFFF};
    for (int round = 0; round < 300; ++round) {
        QString text;
        const int length = rng.bounded(0, 60);
        for (int i = 0; i < length; ++i)
            text.append(QChar(pool[rng.bounded(int(std::size(pool)))]));
        const qsizetype bytes = rng.bounded(0, 100);
        const QString left = cp932Left(text, bytes);
        const QString right = cp932Right(text, bytes);
        ASSERT_TRUE(text.startsWith(left) && text.endsWith(right)) << "round " << round;
        ASSERT_LE(cp932Length(left), bytes);
        ASSERT_LE(cp932Length(right), bytes);
        // One more character would not fit, and no surrogate pair is parted.
        const qsizetype leftEnd = left.size(), rightStart = text.size() - right.size();
        if (leftEnd < text.size()) {
            ASSERT_FALSE(text[leftEnd].isLowSurrogate() && leftEnd > 0 && text[leftEnd - 1].isHighSurrogate());
            const qsizetype next = text[leftEnd].isHighSurrogate() && leftEnd + 1 < text.size()
                                           && text[leftEnd + 1].isLowSurrogate() ? 2 : 1;
            ASSERT_GT(cp932Length(text.left(leftEnd + next)), bytes) << "round " << round;
        }
        if (rightStart > 0) {
            ASSERT_FALSE(rightStart < text.size() && text[rightStart].isLowSurrogate()
                         && text[rightStart - 1].isHighSurrogate());
            const qsizetype previous = text[rightStart - 1].isLowSurrogate() && rightStart > 1
                                               && text[rightStart - 2].isHighSurrogate() ? 2 : 1;
            ASSERT_GT(cp932Length(text.mid(rightStart - previous)), bytes) << "round " << round;
        }
    }
}

TEST(Cp932Robustness, RandomBytesAlwaysDecode)
{
    QRandomGenerator rng(1932);
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes(rng.bounded(1, 400), Qt::Uninitialized);
        for (char &b : bytes)
            b = char(rng.bounded(256));
        const QString text = decodeCp932(bytes);
        // Never more characters than bytes, and re-encoding what was decoded never fails.
        EXPECT_LE(text.size(), bytes.size());
        EXPECT_LE(cp932Length(text), 2 * text.size());
    }
}

TEST(Cp932Robustness, ThreadsDoNotDisturbEachOther)
{
    const QString text = QStringLiteral("こんにちは café 😀 ｱｲｳ «»");
    const QByteArray expected = encodeCp932(text);
    const QString expectedBack = decodeCp932(expected + hex("85"));
    ASSERT_EQ(expectedBack.back(), kReplacement);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                const QByteArray bytes = encodeCp932(text);
                if (bytes != expected || decodeCp932(bytes + hex("85")) != expectedBack)
                    ++mismatches;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}
