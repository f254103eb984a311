#include "history/pairfilter.h"

#include <QMap>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vorlan {

namespace {

constexpr quint8 LineFeed = 0x0A;

#if defined(__x86_64__)
bool hasVectors()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

} // namespace

PairFilter::PairFilter(const QList<Pair> &pairs)
{
    // Eight buckets, one bit each: a pair each while they last; past eight pairs, those sharing
    // a first byte share a bucket, so its first byte stays exact.
    QMap<quint8, int> bucketOf;
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        const Pair &pair = pairs[i];
        if (!bucketOf.contains(pair.first))
            bucketOf.insert(pair.first, int(bucketOf.size() % 8));
        const int bucket = pairs.size() <= 8 ? int(i) : bucketOf.value(pair.first);
        const quint8 bit = quint8(1u << bucket);
        for (int second = 0; second < 256; ++second) {
            if (pair.second >= 0 && pair.second != second)
                continue;
            const unsigned index = unsigned(pair.first) << 8 | unsigned(second);
            m_exact[index >> 6] |= std::uint64_t(1) << (index & 63);
        }
        for (int lane = 0; lane < 32; lane += 16) {
            m_firstLow[lane + (pair.first & 15)] |= bit;
            m_firstHigh[lane + (pair.first >> 4)] |= bit;
            for (int half = 0; half < 16; ++half) {
                if (pair.second < 0 || (pair.second & 15) == half)
                    m_secondLow[lane + half] |= bit;
                if (pair.second < 0 || (pair.second >> 4) == half)
                    m_secondHigh[lane + half] |= bit;
            }
        }
    }
#if defined(__x86_64__)
    m_vector = hasVectors();
#endif
}

qsizetype PairFilter::next(const char *data, qsizetype size, qsizetype from) const
{
    const auto *bytes = reinterpret_cast<const quint8 *>(data);
    return m_vector ? nextVector(bytes, size, from) : nextScalar(bytes, size, from);
}

qsizetype PairFilter::nextScalar(const quint8 *data, qsizetype size, qsizetype from) const
{
    for (qsizetype p = from; p < size; ++p) {
        if (admits(data[p], p + 1 < size ? data[p + 1] : LineFeed))
            return p;
    }
    return size;
}

#if defined(__x86_64__)
// Per byte, the buckets both its halves allow.
__attribute__((target("avx2"), always_inline)) inline __m256i buckets(__m256i bytes, __m256i lowTable,
                                                                     __m256i highTable, __m256i low)
{
    const __m256i lows = _mm256_shuffle_epi8(lowTable, _mm256_and_si256(bytes, low));
    const __m256i highs = _mm256_shuffle_epi8(highTable, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), low));
    return _mm256_and_si256(lows, highs);
}

__attribute__((target("avx2"))) qsizetype PairFilter::nextVector(const quint8 *data, qsizetype size,
                                                                   qsizetype from) const
{
    const __m256i firstLow = _mm256_load_si256(reinterpret_cast<const __m256i *>(m_firstLow.data()));
    const __m256i firstHigh = _mm256_load_si256(reinterpret_cast<const __m256i *>(m_firstHigh.data()));
    const __m256i secondLow = _mm256_load_si256(reinterpret_cast<const __m256i *>(m_secondLow.data()));
    const __m256i secondHigh = _mm256_load_si256(reinterpret_cast<const __m256i *>(m_secondHigh.data()));
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256();
    qsizetype p = from;
    // 33 bytes are read per step: the 32 places and the byte after the last.
    for (; p + 33 <= size; p += 32) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + p));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + p + 1));
        const __m256i both = _mm256_and_si256(buckets(first, firstLow, firstHigh, low),
                                              buckets(second, secondLow, secondHigh, low));
        auto places = ~unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(both, zero)));
        while (places != 0) {
            const qsizetype at = p + __builtin_ctz(places);
            if (admits(data[at], data[at + 1]))
                return at;
            places &= places - 1;
        }
    }
    return nextScalar(data, size, p);
}
#else
qsizetype PairFilter::nextVector(const quint8 *data, qsizetype size, qsizetype from) const
{
    return nextScalar(data, size, from);
}
#endif

} // namespace vorlan
