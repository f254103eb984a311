#include "history/foldedmatcher.h"

#include <algorithm>
#include <cstring>

namespace vorlan {

namespace {

bool isLeadByte(char c)
{
    const auto byte = quint8(c);
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Whether at is between two characters. Code page 932 cannot be read backwards byte by byte,
// but a byte that cannot begin a double-byte character always ends one (or is one): from the
// nearest such byte before at, the bytes up to at pair up, so at is a boundary when their
// number is even.
bool isBoundary(const char *data, qsizetype lower, qsizetype at)
{
    qsizetype leads = 0;
    while (at - leads > lower && isLeadByte(data[at - leads - 1]))
        ++leads;
    return leads % 2 == 0;
}

} // namespace

PairCounts::PairCounts()
    : m_pairs(65536, 0), m_firsts(256, 0)
{
}

void PairCounts::add(QByteArrayView text)
{
    const auto *bytes = reinterpret_cast<const quint8 *>(text.data());
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        ++m_pairs[unsigned(bytes[i]) << 8 | bytes[i + 1]];
        ++m_firsts[bytes[i]];
    }
}

quint64 PairCounts::count(quint8 first, int second) const
{
    return second < 0 ? m_firsts[first] : m_pairs[unsigned(first) << 8 | unsigned(second)];
}

FoldedMatcher::FoldedMatcher(const QString &query, bool kana, const PairCounts *sample)
{
    const QString folded = foldForSearch(query, kana);
    m_canMatch = !folded.isEmpty();
    for (const char32_t c : folded.toUcs4()) {
        const QList<Cp932Spelling> &spellings = cp932Spellings(c, kana);
        m_canMatch = m_canMatch && !spellings.isEmpty();
        m_slots.append(&spellings);
    }
    if (m_canMatch)
        chooseAnchor(sample);
}

// The pairs of bytes a match shows where the slot's character begins: its first two bytes, or
// for a single byte, that byte and the first byte of the next character.
QList<PairFilter::Pair> FoldedMatcher::pairsOf(qsizetype slot) const
{
    QList<PairFilter::Pair> pairs;
    const auto add = [&pairs](quint8 first, int second) {
        for (const PairFilter::Pair &pair : std::as_const(pairs)) {
            if (pair.first == first && pair.second == second)
                return;
        }
        pairs.append({first, second});
    };
    for (const Cp932Spelling &spelling : *m_slots[slot]) {
        const auto first = quint8(spelling.bytes[0]);
        if (spelling.bytes.size() >= 2)
            add(first, quint8(spelling.bytes[1]));
        else if (slot + 1 == m_slots.size())
            add(first, -1);
        else {
            for (const Cp932Spelling &next : *m_slots[slot + 1])
                add(first, quint8(next.bytes[0]));
        }
    }
    return pairs;
}

// The character whose pairs occur least in the sample (or, without one, that has the fewest
// pairs) is looked for first; every place the filter stops at costs a check.
void FoldedMatcher::chooseAnchor(const PairCounts *sample)
{
    double best = -1;
    for (qsizetype slot = 0; slot < m_slots.size(); ++slot) {
        const QList<PairFilter::Pair> pairs = pairsOf(slot);
        double cost = 0;
        for (const PairFilter::Pair &pair : pairs)
            cost += 1.0 + (pair.second < 0 ? 256.0 : 0.0) + (sample ? double(sample->count(pair.first, pair.second)) : 0.0);
        if (pairs.size() > 8) // buckets shared: more places pass the vector step
            cost *= double(pairs.size()) / 8.0;
        if (best < 0 || cost < best) {
            best = cost;
            m_anchor = slot;
        }
    }
    m_filter = PairFilter(pairsOf(m_anchor));
}

bool FoldedMatcher::spelledAt(const Text &text, qsizetype at, const Cp932Spelling &spelling)
{
    const qsizetype length = spelling.bytes.size();
    if (at < text.from || at + length > text.size
        || std::memcmp(text.data + at, spelling.bytes.constData(), size_t(length)) != 0)
        return false;
    return at + length == text.size || !spelling.notFollowedBy.contains(text.data[at + length]);
}

std::optional<qsizetype> FoldedMatcher::matchForward(const Text &text, qsizetype at, qsizetype slot) const
{
    if (slot == m_slots.size())
        return at;
    for (const Cp932Spelling &spelling : *m_slots[slot]) {
        if (spelledAt(text, at, spelling)) {
            if (const std::optional<qsizetype> end = matchForward(text, at + spelling.bytes.size(), slot + 1))
                return end;
        }
    }
    return std::nullopt;
}

std::optional<qsizetype> FoldedMatcher::matchBackward(const Text &text, qsizetype at, qsizetype slot) const
{
    if (slot < 0)
        return at;
    for (const Cp932Spelling &spelling : *m_slots[slot]) {
        const qsizetype start = at - spelling.bytes.size();
        if (spelledAt(text, start, spelling) && isBoundary(text.data, text.from, start)) {
            if (const std::optional<qsizetype> found = matchBackward(text, start, slot - 1))
                return found;
        }
    }
    return std::nullopt;
}

std::optional<ByteMatch> FoldedMatcher::find(const char *data, qsizetype size, qsizetype from) const
{
    if (!m_canMatch)
        return std::nullopt;
    const Text text{data, size, from};
    for (qsizetype at = m_filter.next(data, size, from); at < size; at = m_filter.next(data, size, at + 1)) {
        if (!isBoundary(data, from, at))
            continue;
        for (const Cp932Spelling &spelling : *m_slots[m_anchor]) {
            if (!spelledAt(text, at, spelling))
                continue;
            const std::optional<qsizetype> end = matchForward(text, at + spelling.bytes.size(), m_anchor + 1);
            if (!end)
                continue;
            if (const std::optional<qsizetype> start = matchBackward(text, at, m_anchor - 1))
                return ByteMatch{*start, *end};
        }
    }
    return std::nullopt;
}

} // namespace vorlan
