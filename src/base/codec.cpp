#include "base/codec.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <array>
#include <cerrno>
#include <iconv.h>
#include <utility>

namespace vorlan {

namespace {

struct BestFit
{
    char32_t codePoint;
    char bytes[3];
    unsigned char length;
};

constexpr BestFit kBestFit[] = {
#include "base/cp932bestfit.inc"
};

static_assert(std::is_sorted(std::begin(kBestFit), std::end(kBestFit),
                             [](const BestFit &a, const BestFit &b) {
                                 return a.codePoint < b.codePoint;
                             }),
              "the best-fit table must stay sorted for the binary search");

const BestFit *findBestFit(char32_t codePoint)
{
    const auto it = std::lower_bound(std::begin(kBestFit), std::end(kBestFit), codePoint,
                                     [](const BestFit &entry, char32_t cp) {
                                         return entry.codePoint < cp;
                                     });
    if (it == std::end(kBestFit) || it->codePoint != codePoint)
        return nullptr;
    return it;
}

// QString stores UTF-16 in host order; tell iconv the same.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr const char *kUtf16 = "UTF-16LE";
#else
constexpr const char *kUtf16 = "UTF-16BE";
#endif

constexpr char16_t kReplacement = 0xFFFD;

// Single bytes the desktop peers' converter decodes although iconv's CP932 does not: 80 to
// U+0080 and A0, FD, FE, FF to U+F8F0..U+F8F3. The best-fit table encodes exactly these
// characters back to these bytes, so decoding them closes the round trip. None of them is a
// lead byte, so they always stand alone. Zero for every other byte.
char16_t singleByteExtra(unsigned char byte)
{
    switch (byte) {
    case 0x80: return 0x0080;
    case 0xA0: return 0xF8F0;
    case 0xFD: return 0xF8F1;
    case 0xFE: return 0xF8F2;
    case 0xFF: return 0xF8F3;
    default: return 0;
    }
}

// One conversion descriptor per direction and thread: iconv_open is not free and these run
// for every datagram and every logged line. The descriptor is reset before each use.
class Converter
{
public:
    Converter(const char *to, const char *from)
        : m_cd(iconv_open(to, from))
    {
    }
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    void reset() { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }

    // Converts as much as it can; advances the pointers. Returns 0 or the errno of the stop.
    int convert(const char *&in, size_t &inLeft, char *&out, size_t &outLeft)
    {
        char *inPtr = const_cast<char *>(in);
        const size_t result = iconv(m_cd, &inPtr, &inLeft, &out, &outLeft);
        in = inPtr;
        return result == static_cast<size_t>(-1) ? errno : 0;
    }

private:
    iconv_t m_cd;
};

Converter &encoder()
{
    thread_local Converter converter("CP932", kUtf16);
    return converter;
}

Converter &decoder()
{
    thread_local Converter converter(kUtf16, "CP932");
    return converter;
}

// The code point starting at units[i] and how many UTF-16 units it takes. A lone surrogate
// counts as one unit of its own value.
std::pair<char32_t, qsizetype> codePointAt(const char16_t *units, qsizetype size, qsizetype i)
{
    const char16_t unit = units[i];
    if (QChar::isHighSurrogate(unit) && i + 1 < size && QChar::isLowSurrogate(units[i + 1]))
        return {QChar::surrogateToUcs4(unit, units[i + 1]), 2};
    return {unit, 1};
}

// The bytes for one code point the converter refused: its best-fit bytes, or "?" (false).
bool appendBestFit(QByteArray &out, char32_t codePoint)
{
    if (const BestFit *fit = findBestFit(codePoint)) {
        out.append(fit->bytes, fit->length);
        return true;
    }
    out.append('?');
    return false;
}

// What each UTF-16 unit outside ASCII and the surrogates encodes to, learnt from the converter
// the first time the unit is met: a byte, a byte pair (lead byte high), or no mapping. Code page
// 932 has no shift state, so a character encodes on its own as it does in a run, and text made
// of known units is encoded by looking them up. Shared by every thread; a unit two threads learn
// at once gets the same value from both.
constexpr quint16 Unknown = 0;
constexpr quint16 NoMapping = 0xFFFF;
std::atomic<quint16> kLearnt[0x10000];

quint16 learn(char16_t unit)
{
    Converter &cd = encoder();
    if (!cd.valid())
        return Unknown;
    cd.reset();
    const char *in = reinterpret_cast<const char *>(&unit);
    size_t inLeft = sizeof unit;
    char bytes[4];
    char *outPtr = bytes;
    size_t outLeft = sizeof bytes;
    quint16 value = NoMapping;
    if (cd.convert(in, inLeft, outPtr, outLeft) == 0 && inLeft == 0) {
        const auto first = static_cast<unsigned char>(bytes[0]);
        const auto second = static_cast<unsigned char>(bytes[1]);
        if (outPtr - bytes == 1)
            value = first;
        else if (outPtr - bytes == 2)
            value = quint16(first << 8 | second);
    }
    cd.reset();
    kLearnt[unit].store(value, std::memory_order_relaxed);
    return value;
}

// The text encoded by lookups; false (out left unfinished) when a unit cannot be learnt. Code
// page 932 has nothing beyond the 16-bit range: such a character, or a broken surrogate, takes
// its best fit or a question mark, as in the converter's pass, and a question mark is told to
// unmapped(position, units).
template<typename Unmapped>
bool encodeByLookup(const char16_t *units, qsizetype size, QByteArray &out, Unmapped unmapped)
{
    out.resize(size * 2);
    char *outPtr = out.data();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = units[i];
        if (unit < 0x80) {
            *outPtr++ = static_cast<char>(unit);
            continue;
        }
        char32_t codePoint = unit;
        quint16 value = NoMapping;
        const qsizetype start = i;
        if (unit >= 0xD800 && unit < 0xE000) {
            const auto [cp, unitsUsed] = codePointAt(units, size, i);
            codePoint = cp;
            i += unitsUsed - 1;
        } else if ((value = kLearnt[unit].load(std::memory_order_relaxed)) == Unknown
                   && (value = learn(unit)) == Unknown) {
            return false;
        }
        if (value == NoMapping) {
            const BestFit *fit = findBestFit(codePoint);
            if (!fit)
                unmapped(start, i + 1 - start);
            const size_t length = fit ? fit->length : 1;
            const qsizetype used = outPtr - out.data();
            // A best fit may take more bytes than its unit's two.
            out.resize(out.size() + qsizetype(length));
            outPtr = std::copy_n(fit ? fit->bytes : "?", length, out.data() + used);
        } else if (value < 0x100) {
            *outPtr++ = static_cast<char>(value);
        } else {
            *outPtr++ = static_cast<char>(value >> 8);
            *outPtr++ = static_cast<char>(value & 0xFF);
        }
    }
    out.truncate(outPtr - out.data());
    return true;
}

// What each byte from 80 up, and each byte pair with such a lead byte, decodes to on its own,
// learnt from the converter the first time it is met: the UTF-16 unit, or no single unit (a lead
// byte alone, a pair that is not one character, anything the converter refuses). A single byte
// sits at its own value, a pair at lead << 8 | trail, so the two never meet. Without a shift
// state, text whose bytes are all known decodes by these lookups as it does in one run of the
// converter; anything else goes the converter's way. Shared by every thread as kLearnt is.
constexpr quint16 NoUnit = 0xFFFF;
std::atomic<quint16> kDecoded[0x10000];

quint16 learnDecoding(quint16 index)
{
    Converter &cd = decoder();
    if (!cd.valid())
        return Unknown;
    cd.reset();
    const char bytes[2] = {char(index < 0x100 ? index : index >> 8), char(index & 0xFF)};
    const char *in = bytes;
    size_t inLeft = index < 0x100 ? 1 : 2;
    char16_t unit[2];
    char *outPtr = reinterpret_cast<char *>(unit);
    size_t outLeft = sizeof unit;
    quint16 value = NoUnit;
    if (cd.convert(in, inLeft, outPtr, outLeft) == 0 && inLeft == 0
        && outPtr - reinterpret_cast<char *>(unit) == sizeof(char16_t) && unit[0] != Unknown && unit[0] != NoUnit)
        value = unit[0];
    cd.reset();
    kDecoded[index].store(value, std::memory_order_relaxed);
    return value;
}

quint16 decodedAt(quint16 index)
{
    const quint16 value = kDecoded[index].load(std::memory_order_relaxed);
    return value == Unknown ? learnDecoding(index) : value;
}

// The bytes decoded by lookups into out (sized to hold one unit per byte); false when a byte
// needs the converter's way after all.
bool decodeByLookup(const QByteArray &bytes, QString &out)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    char16_t *units = reinterpret_cast<char16_t *>(out.data());
    qsizetype produced = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char byte = in[i];
        if (byte < 0x80) {
            units[produced++] = byte;
            continue;
        }
        quint16 value = decodedAt(byte);
        if (value == NoUnit && i + 1 < size && (value = decodedAt(quint16(byte << 8 | in[i + 1]))) != NoUnit)
            ++i;
        if (value == NoUnit || value == Unknown)
            return false;
        units[produced++] = value;
    }
    out.truncate(produced);
    return true;
}

// Encodes the text; every code point that neither the converter nor the best-fit table holds
// goes out as "?" and is told to unmapped(position, units) as well.
template<typename Unmapped>
QByteArray encodeReporting(QStringView text, Unmapped unmapped)
{
    const auto *units = reinterpret_cast<const char16_t *>(text.utf16());
    const qsizetype size = text.size();
    QByteArray out;
    if (size == 0)
        return out;

    // Most of what goes out is plain ASCII (headers, addresses, times, many names), which code
    // page 932 keeps byte for byte: a copy, without the converter's two passes over the text.
    if (std::all_of(units, units + size, [](char16_t unit) { return unit < 0x80; })) {
        out.resize(size);
        std::copy(units, units + size, out.data());
        return out;
    }

    // With a converter the lookups never fail, so nothing is told to unmapped twice.
    if (encoder().valid() && encodeByLookup(units, size, out, unmapped))
        return out;
    out.clear();

    Converter &cd = encoder();
    if (!cd.valid()) {
        // No converter on this system: ASCII still goes through.
        for (qsizetype i = 0; i < size;) {
            const auto [cp, unitsUsed] = codePointAt(units, size, i);
            if (cp < 0x80)
                out.append(static_cast<char>(cp));
            else if (!appendBestFit(out, cp))
                unmapped(i, unitsUsed);
            i += unitsUsed;
        }
        return out;
    }
    cd.reset();

    // A UTF-16 unit never becomes more than two bytes, whether converted or replaced, so the
    // output is written in place and only trimmed at the end.
    out.resize(size * 2);
    char *outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    const auto makeRoom = [&](size_t needed) {
        if (outLeft >= needed)
            return;
        const qsizetype used = outPtr - out.data();
        out.resize(out.size() + static_cast<qsizetype>(needed) + size);
        outPtr = out.data() + used;
        outLeft = static_cast<size_t>(out.size() - used);
    };

    qsizetype pos = 0;
    while (pos < size) {
        const char *in = reinterpret_cast<const char *>(units + pos);
        size_t inLeft = static_cast<size_t>(size - pos) * sizeof(char16_t);
        const int error = cd.convert(in, inLeft, outPtr, outLeft);
        pos = size - static_cast<qsizetype>(inLeft / sizeof(char16_t));
        if (error == 0)
            break;
        if (error == E2BIG) {
            makeRoom(outLeft + 16); // always grows, so this cannot spin
            continue;
        }
        // EILSEQ: a character without a CP932 mapping, or a broken surrogate.
        // EINVAL: a high surrogate cut off by the end of the text. Either way the
        // character at pos is replaced by hand and the run resumes after it.
        cd.reset();
        if (pos >= size)
            break;
        const auto [cp, unitsUsed] = codePointAt(units, size, pos);
        const BestFit *fit = findBestFit(cp);
        if (!fit)
            unmapped(pos, unitsUsed);
        const size_t length = fit ? fit->length : 1;
        makeRoom(length);
        std::copy_n(fit ? fit->bytes : "?", length, outPtr);
        outPtr += length;
        outLeft -= length;
        pos += unitsUsed;
    }
    out.truncate(outPtr - out.data());
    return out;
}

// What the code point at i, of used units, takes once encoded. Each code point encodes on its
// own as it does in a run, so the lengths of a text's code points add up to the text's.
qsizetype encodedLength(const QString &text, qsizetype i, qsizetype used)
{
    const char16_t unit = text[i].unicode();
    if (unit < 0x80)
        return 1;
    if (used == 1 && !QChar::isSurrogate(unit)) {
        quint16 value = kLearnt[unit].load(std::memory_order_relaxed);
        if (value == Unknown)
            value = learn(unit);
        if (value != Unknown && value != NoMapping)
            return value < 0x100 ? 1 : 2;
    }
    return encodeCp932(text.mid(i, used)).size();
}

} // namespace

QByteArray encodeCp932(const QString &text)
{
    return encodeReporting(text, [](qsizetype, qsizetype) {});
}

QList<TextRange> cp932Unmapped(QStringView text)
{
    QList<TextRange> ranges;
    encodeReporting(text, [&ranges](qsizetype start, qsizetype length) { ranges.append({start, length}); });
    return ranges;
}

QString decodeCp932(const QByteArray &bytes)
{
    const qsizetype size = bytes.size();
    QString out;
    if (size == 0)
        return out;

    Converter &cd = decoder();
    if (!cd.valid()) {
        out.reserve(size);
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            const char16_t extra = singleByteExtra(byte);
            out.append(byte < 0x80 ? QChar(byte) : QChar(extra ? extra : kReplacement));
        }
        return out;
    }

    // Every byte or byte pair becomes at most one UTF-16 unit.
    out.resize(size);
    if (decodeByLookup(bytes, out))
        return out;
    out.clear();
    cd.reset();

    std::array<char16_t, 1024> buffer;
    out.reserve(size);

    qsizetype pos = 0;
    while (pos < size) {
        const char *in = bytes.constData() + pos;
        size_t inLeft = static_cast<size_t>(size - pos);
        char *outPtr = reinterpret_cast<char *>(buffer.data());
        size_t outLeft = sizeof(buffer);
        const int error = cd.convert(in, inLeft, outPtr, outLeft);
        const auto produced = (outPtr - reinterpret_cast<char *>(buffer.data()))
                              / static_cast<qsizetype>(sizeof(char16_t));
        out.append(QStringView(buffer.data(), produced));
        const qsizetype next = size - static_cast<qsizetype>(inLeft);
        const bool progressed = next > pos;
        pos = next;

        if (error == 0 || (error == E2BIG && progressed))
            continue;
        // EILSEQ: not CP932 here; drop just the first byte so a valid character that
        // follows a stray lead byte survives. EINVAL: a lead byte with nothing after it.
        cd.reset();
        if (pos >= size)
            break;
        const char16_t extra = singleByteExtra(static_cast<unsigned char>(bytes[pos]));
        out.append(QChar(extra ? extra : kReplacement));
        ++pos;
    }
    return out;
}

qsizetype cp932Length(const QString &text)
{
    return encodeCp932(text).size();
}

QString cp932Left(const QString &text, qsizetype maxBytes)
{
    if (cp932Length(text) <= maxBytes)
        return text;
    const auto *units = reinterpret_cast<const char16_t *>(text.utf16());
    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const qsizetype used = codePointAt(units, text.size(), end).second;
        bytes += encodedLength(text, end, used);
        if (bytes > maxBytes)
            break;
        end += used;
    }
    return text.left(end);
}

QString cp932Right(const QString &text, qsizetype maxBytes)
{
    const auto *units = reinterpret_cast<const char16_t *>(text.utf16());
    qsizetype bytes = 0;
    qsizetype start = text.size();
    while (start > 0) {
        const qsizetype used =
            start > 1 && QChar::isLowSurrogate(units[start - 1]) && QChar::isHighSurrogate(units[start - 2]) ? 2 : 1;
        bytes += encodedLength(text, start - used, used);
        if (bytes > maxBytes)
            break;
        start -= used;
    }
    return text.sliced(start);
}

} // namespace vorlan
