// Check digit over any text: one upper-case hex digit that closes the sum, the same for
// either letter case, or TypeMismatchError for a non-hex character among the first 24.
#include <QString>

#include <cstddef>
#include <cstdint>

#include "checkdigit.h"
#include "fuzzcheck.h"
#include "runtimeerror.h"

namespace {

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

void check(const QString &text)
{
    const qsizetype checked = qMin<qsizetype>(text.size(), 24);
    bool valid = true;
    int sum = 0;
    for (qsizetype i = 0; i < checked; ++i) {
        int v = hexValue(text.at(i));
        if (v < 0) {
            valid = false;
            break;
        }
        if (i % 2 == 0)
            v = v * 2 > 15 ? v * 2 - 15 : v * 2;
        sum += v;
    }
    QString digit;
    bool threw = false;
    try {
        digit = CalculateHexCheckDigit(text);
    } catch (const TypeMismatchError &) {
        threw = true;
    }
    FUZZ_CHECK(threw == !valid);
    if (threw)
        return;
    FUZZ_CHECK(digit.size() == 1);
    const int value = hexValue(digit.at(0));
    FUZZ_CHECK(value >= 0 && digit == digit.toUpper());
    FUZZ_CHECK((sum + value) % 16 == 0);
    FUZZ_CHECK(CalculateHexCheckDigit(text.left(checked).toUpper()) == digit);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto bytes = reinterpret_cast<const char *>(data);
    check(QString::fromLatin1(bytes, qsizetype(size)));
    check(QString(reinterpret_cast<const QChar *>(data), qsizetype(size / 2)));
    return 0;
}
