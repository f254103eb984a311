#pragma once

#include "history/pairfilter.h"
#include "history/searchfold.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace vorlan {

// How often each pair of adjacent bytes occurs in a sample of the text to be searched: tells
// the matcher which character of the query is the rarest to look for first.
class PairCounts
{
public:
    PairCounts();
    void add(QByteArrayView text);
    quint64 count(quint8 first, int second) const; // second -1: any byte

private:
    std::vector<quint32> m_pairs;
    std::vector<quint64> m_firsts;
};

struct ByteMatch
{
    qsizetype start = 0;
    qsizetype end = 0;
};

// Finds a text, folded as foldForSearch folds it, in code page 932 bytes as they are, without
// decoding them: each character of the folded query stands for all its spellings, and a match
// starts and ends between characters (a double-byte character's second byte is never taken for
// the ASCII letter or half-width kana it equals). A match never spans a line feed.
class FoldedMatcher
{
public:
    FoldedMatcher(const QString &query, bool kana, const PairCounts *sample = nullptr);

    // False for an empty query or one with a character code page 932 cannot write.
    bool canMatch() const { return m_canMatch; }

    // The first match found in text[from, size); from must be a character boundary.
    std::optional<ByteMatch> find(const char *text, qsizetype size, qsizetype from = 0) const;
    std::optional<ByteMatch> find(QByteArrayView text, qsizetype from = 0) const
    {
        return find(text.data(), text.size(), from);
    }

private:
    struct Text
    {
        const char *data;
        qsizetype size;
        qsizetype from;
    };
    static bool spelledAt(const Text &text, qsizetype at, const Cp932Spelling &spelling);
    std::optional<qsizetype> matchForward(const Text &text, qsizetype at, qsizetype slot) const;
    std::optional<qsizetype> matchBackward(const Text &text, qsizetype at, qsizetype slot) const;
    void chooseAnchor(const PairCounts *sample);
    QList<PairFilter::Pair> pairsOf(qsizetype slot) const;

    QList<const QList<Cp932Spelling> *> m_slots;
    qsizetype m_anchor = 0;
    PairFilter m_filter;
    bool m_canMatch = false;
};

} // namespace vorlan
