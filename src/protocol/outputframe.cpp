#include "outputframe.h"

QString frameStateText(const OutputShapes &shapes)
{
    QString text;
    text.reserve(Output::Count);
    for (int s = 1; s <= Output::Sections; ++s) {
        for (int n = Output::PerSection; n >= 1; --n)
            text += QString::number(shapes[size_t(s - 1)][size_t(n - 1)]);
    }
    return text;
}

QString wireFrame(const QString &frameText)
{
    return frameText + QStringLiteral("\r\n");
}

std::optional<OutputToggle> toggledOutput(qint16 shape)
{
    switch (shape) {
    case 0:
        return OutputToggle {1, Bgr::Green};
    case 1:
        return OutputToggle {0, Bgr::Red};
    default:
        return std::nullopt;
    }
}
