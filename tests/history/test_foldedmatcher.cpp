#include "base/codec.h"
#include "history/foldedmatcher.h"
#include "history/searchfold.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <array>

using namespace vorlan;

namespace {

QByteArray sjis(const char *utf8)
{
    return encodeCp932(QString::fromUtf8(utf8));
}

struct Case
{
    const char *query;
    QByteArray text; // code page 932 as a log file holds it
    bool kana;
    const char *found; // the text matched, nullptr for none
};

// What a Japanese user means as the same text, and the byte traps of code page 932.
const Case Cases[] = {
    // width and case of Latin letters
    {"abc", sjis("xxＡＢＣxx"), false, "ＡＢＣ"},
    {"ＡＢＣ", sjis("xxaBcxx"), false, "aBc"},
    {"Vorlan", sjis("ｖｏＲＬａｎ"), false, "ｖｏＲＬａｎ"},
    {"ｖｐｎ", sjis("VPN接続"), false, "VPN"},
    {"１０時", sjis("10時から"), false, "10時"},
    {"～", sjis("a~b"), false, "~"},
    {"￥100", QByteArray("\\100"), false, "\\100"},
    {"会議 室", sjis("会議　室"), false, "会議　室"},
    // half-width katakana, with their voiced marks
    {"ｶﾀｶﾅ", sjis("カタカナ"), false, "カタカナ"},
    {"カタカナ", sjis("ｶﾀｶﾅ"), false, "ｶﾀｶﾅ"},
    {"ガイド", sjis("ｶﾞｲﾄﾞ"), false, "ｶﾞｲﾄﾞ"},
    {"ﾊﾟﾝ", sjis("パン"), false, "パン"},
    {"ヴ", sjis("ｳﾞｨ"), false, "ｳﾞ"},
    {"サーバー", sjis("ｻｰﾊﾞｰ"), false, "ｻｰﾊﾞｰ"},
    {"カ", sjis("ｶﾞ"), false, nullptr},  // ｶﾞ is ガ, not カ
    {"ハ", sjis("ﾊﾟ"), false, nullptr},
    // hiragana against katakana only when asked
    {"かたかな", sjis("カタカナ"), false, nullptr},
    {"かたかな", sjis("カタカナ"), true, "カタカナ"},
    {"がいど", sjis("ｶﾞｲﾄﾞ"), true, "ｶﾞｲﾄﾞ"},
    {"ゝ", sjis("ヽ"), true, "ヽ"},
    {"ひらがな", sjis("ヒラガナ"), false, nullptr},
    // kanji as they are; duplicate codes of one character
    {"会議", sjis("明日の会議は"), false, "会議"},
    {"会議", sjis("会談"), false, nullptr},
    {"∵", QByteArray("\x87\x9a"), false, "∵"}, // the NEC code of 81E6
    {"ⅰ", QByteArray("\xfa\x40"), false, "ⅰ"}, // the IBM code of EEEF
    // a second byte is never a character of its own
    {"A", sjis("ア"), false, nullptr},          // 83 41
    {"a", sjis("ア"), false, nullptr},
    {"\\", sjis("表示"), false, nullptr},       // 95 5C
    {"ｱ", sjis("宛"), false, nullptr},          // 88 B1
    {"A", QByteArray("\x83\x83" "A"), false, "A"},     // ャ then A
    {"A", QByteArray("\x83\x83\x83" "A"), false, nullptr}, // ャ then ア
    {"ャA", QByteArray("\x83\x83" "a"), false, "ャa"},
    // never across a line
    {"ab", QByteArray("a\r\nb"), false, nullptr},
    // nothing code page 932 can write
    {"😀", sjis("x?x"), false, nullptr},
    {"", sjis("abc"), false, nullptr},
};

QString describe(const Case &c)
{
    return QString::fromUtf8(c.query) + QStringLiteral(" in ") + decodeCp932(c.text)
           + (c.kana ? QStringLiteral(" (kana)") : QString());
}

} // namespace

// Each case three ways: alone (byte by byte), inside a text long enough for the vector sieve,
// and with byte counts that move the matcher's first look to another character.
TEST(FoldedMatcher, FindsWhatAJapaneseReaderMeansAndNothingElse)
{
    const QByteArray filler = sjis("前置きの文章です。") + QByteArray(30, '-') + ' ';
    for (const Case &c : Cases) {
        const QString query = QString::fromUtf8(c.query);
        PairCounts sample;
        sample.add(c.text);
        for (const QByteArray &text : {c.text, filler + c.text + ' ' + filler}) {
            for (const PairCounts *counts : std::array<const PairCounts *, 2>{nullptr, &sample}) {
                const FoldedMatcher matcher(query, c.kana, counts);
                const std::optional<ByteMatch> match = matcher.find(text);
                if (!c.found) {
                    EXPECT_FALSE(match) << describe(c).toStdString() << " found "
                                        << decodeCp932(text.mid(match->start, match->end - match->start)).toStdString();
                    continue;
                }
                ASSERT_TRUE(match) << describe(c).toStdString();
                EXPECT_EQ(decodeCp932(text.mid(match->start, match->end - match->start)), QString::fromUtf8(c.found))
                    << describe(c).toStdString();
            }
        }
    }
}

TEST(FoldedMatcher, FoldsTheQueryTheWayItMatches)
{
    EXPECT_EQ(foldForSearch(u"ＡＢＣ　ｶﾞｲﾄﾞ・ﾊﾟﾝ￥", false), u"abc ガイド・パン\\");
    EXPECT_EQ(foldForSearch(u"カタカナヴ", true), u"かたかなゔ");
    EXPECT_EQ(foldForSearch(u"ｱﾞ", false), u"ア゛"); // no voiced ア: the mark stays a mark
}

// The sieve looks at 32 places in one step; a match at every place of a long text, at the end
// of a step, and in the last bytes (read one by one) must all be found.
TEST(FoldedMatcher, FindsEveryMatchWhereverTheSieveStepsFall)
{
    const FoldedMatcher matcher(QStringLiteral("ＸＹ"), false);
    for (int at = 0; at < 100; ++at) {
        QByteArray text(100, '-');
        text.replace(at, 2, at % 2 ? "xy" : "XY");
        const std::optional<ByteMatch> match = matcher.find(QByteArrayView(text));
        ASSERT_TRUE(match) << at;
        EXPECT_EQ(match->start, at);
        EXPECT_EQ(match->end, at + 2);
        EXPECT_FALSE(matcher.find(QByteArrayView(text), at + 1)) << at;
    }
}
