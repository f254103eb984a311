#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

namespace vorlan {

// The differences a Japanese reader does not mean when looking for a text: full-width and
// half-width forms (ＡＢＣ/ABC, ｶﾀｶﾅ/カタカナ, ｶﾞ/ガ, the ideographic space), upper and lower
// case of Latin letters, and, when kana is set, hiragana against katakana. ￥ counts as the
// backslash byte, which Japanese fonts draw as the yen sign.
QString foldForSearch(QStringView text, bool kana);

// One way a folded character is written in code page 932. A half-width kana that a following
// voiced or semi-voiced mark would turn into another character must not be followed by it:
// notFollowedBy lists those marks' bytes.
struct Cp932Spelling
{
    QByteArray bytes;
    QByteArray notFollowedBy;
};

// Every code page 932 spelling of one folded character (a code point foldForSearch returns):
// all byte sequences that decode to a character folding to it, including the duplicate codes
// of code page 932 and half-width kana with their marks. Empty when there is none.
const QList<Cp932Spelling> &cp932Spellings(char32_t folded, bool kana);

} // namespace vorlan
