#include "inboundtext.h"

namespace Inbound {

bool isIdentification(const QString &text)
{
    return text == QLatin1String(IdentificationText);
}

QStringView inputChar(QStringView text, int k)
{
    const qsizetype position = InputCount + 1 - k;
    if (k < 1 || k > InputCount || text.size() < position)
        return {};
    return text.mid(position - 1, 1);
}

quint8 stateOf(QStringView inputChar)
{
    if (inputChar.size() != 1)
        return 0;
    const char16_t u = inputChar.front().unicode();
    // Only ASCII digits count: other scripts' digits are not the controller's.
    if (u >= u'0' && u <= u'9')
        return quint8(u - u'0');
    return 0;
}

std::optional<BgrColor> indicatorColour(quint8 state)
{
    switch (state) {
    case 0:
        return Bgr::Red;
    case 1:
        return Bgr::Green;
    default:
        return std::nullopt;
    }
}

} // namespace Inbound
