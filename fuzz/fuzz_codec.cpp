// The code page 932 decoder on arbitrary bytes, and the encoder on arbitrary UTF-16 (the same
// bytes read as code units), including the round trip of what the encoder produces.

#include "base/codec.h"
#include "fuzzsupport.h"

#include <cstring>

using namespace vorlan;
using vorlan::fuzz::require;

namespace {

// The single bytes the encoder writes for U+0080 and U+F8F0..U+F8F3 must decode back to them
// for a round trip through those characters to close. Checked once, so that the property
// covers them as soon as the decoder does.
bool singleBytesRoundTrip()
{
    static const QString characters = QStringLiteral(u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3");
    static const bool closed = decodeCp932(encodeCp932(characters)) == characters;
    return closed;
}

bool holdsUnmappedSingleByteCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() == 0x80 || (c.unicode() >= 0xF8F0 && c.unicode() <= 0xF8F3))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString decoded = decodeCp932(bytes);
    // Every byte or byte pair becomes one UTF-16 unit.
    require(decoded.size() <= bytes.size(), "the decoder made more characters than bytes");
    require(decoded.isEmpty() == bytes.isEmpty(), "the decoder lost everything");

    QString text(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, size / 2 * 2);
    const QByteArray encoded = encodeCp932(text);
    require(encoded.size() <= 2 * text.size(), "the encoder made more than two bytes a unit");
    require(cp932Length(text) == encoded.size(), "the length differs from the encoding");

    // What the encoder produces is code page 932, so it survives a decode and re-encode as is.
    if (singleBytesRoundTrip() || !holdsUnmappedSingleByteCharacter(text)) {
        const QString back = decodeCp932(encoded);
        require(encodeCp932(back) == encoded, "an encoded text does not survive a round trip");
    }
    return 0;
}
