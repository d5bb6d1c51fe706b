#pragma once

#include <QString>
#include <QStringView>

#include <optional>

#include "bgrcolor.h"

namespace Inbound {
inline constexpr int InputCount = 8;
// The text with which the controller identifies itself, alone in one arrival.
inline constexpr char IdentificationText[] = "STEROWNIK";

// Only the whole, exact text identifies the controller.
bool isIdentification(const QString &text);

// The character that carries input k (1..8): text position 9 - k, or empty when the
// text is too short.
QStringView inputChar(QStringView text, int k);

// A digit is its value; anything else, or nothing, is 0.
quint8 stateOf(QStringView inputChar);

// Indicator colour for a state: red for 0, green for 1, unchanged otherwise.
std::optional<BgrColor> indicatorColour(quint8 state);
} // namespace Inbound
