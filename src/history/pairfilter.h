#pragma once

#include <QList>
#include <QtGlobal>

#include <array>
#include <cstdint>

namespace vorlan {

// Finds, fast, the places where one of a few pairs of bytes starts: the first sieve of a
// search, which the exact match then confirms. A pair's second byte may be any byte. With up to
// eight pairs the sieve lets through exactly those pairs; with more it may let through a few
// others as well. Where the processor has 256-bit vectors, 32 places are looked at in one step:
// each byte's two halves look up which pairs it may begin or end.
class PairFilter
{
public:
    struct Pair
    {
        quint8 first = 0;
        int second = -1; // -1: any byte
    };

    explicit PairFilter(const QList<Pair> &pairs = {});

    // The first place p in [from, size) where a pair starts (the byte after the last one is
    // read as a line feed), or size.
    qsizetype next(const char *data, qsizetype size, qsizetype from) const;

    bool admits(quint8 first, quint8 second) const
    {
        const unsigned index = unsigned(first) << 8 | second;
        return (m_exact[index >> 6] >> (index & 63)) & 1;
    }

private:
    qsizetype nextScalar(const quint8 *data, qsizetype size, qsizetype from) const;
    qsizetype nextVector(const quint8 *data, qsizetype size, qsizetype from) const;

    std::array<std::uint64_t, 1024> m_exact{}; // one bit per pair of bytes
    // Per half of a byte, the buckets of pairs it may belong to (first byte, then second),
    // each 16 entries twice over, once per 128-bit lane.
    alignas(32) std::array<quint8, 32> m_firstLow{}, m_firstHigh{}, m_secondLow{}, m_secondHigh{};
    bool m_vector = false;
};

} // namespace vorlan
