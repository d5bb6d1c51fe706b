// The inbound decoding on any bytes, taken as the socket hands them over (one character
// per byte): states only 0..9, a colour only for 0 and 1, identification only for the
// exact text.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

#include "bgrcolor.h"
#include "fuzzcheck.h"
#include "inboundtext.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromLatin1(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(Inbound::isIdentification(text) == (bytes == "STEROWNIK"));
    for (int k = 1; k <= Inbound::InputCount; ++k) {
        const qsizetype position = Inbound::InputCount + 1 - k;
        const QStringView c = Inbound::inputChar(text, k);
        FUZZ_CHECK(c.size() == (bytes.size() >= position ? 1 : 0));
        const quint8 state = Inbound::stateOf(c);
        FUZZ_CHECK(state <= 9);
        const char byte = c.isEmpty() ? '\0' : bytes.at(position - 1);
        FUZZ_CHECK(state == (byte >= '0' && byte <= '9' ? byte - '0' : 0));
        const auto colour = Inbound::indicatorColour(state);
        FUZZ_CHECK(colour.has_value() == (state <= 1));
        if (colour)
            FUZZ_CHECK(*colour == (state == 1 ? Bgr::Green : Bgr::Red));
    }
    return 0;
}
