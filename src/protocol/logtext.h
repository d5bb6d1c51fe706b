#pragma once

#include <QString>
#include <QStringView>

#include <array>

#include "inboundtext.h"

// Text bound for the history file, one event per line. Whatever a controller sends must
// not be able to break a line, forge one, or drive the terminal that shows it.
namespace LogText {

// Network text as plain ASCII: printable characters stay, a backslash or a quote gets a
// backslash before it, every other character becomes "\xNN" (code points up to FF, as the
// socket's bytes map to them) or "\uNNNN". Nothing of the result is a control character.
QString escaped(QStringView text);

// The program's own messages: letters of any script stay, line breaks and other control
// characters become "\xNN" or "\uNNNN" so that one message stays one line.
QString singleLine(QStringView text);

// The input states as the controller writes them, input 8 first: "00000001".
QString inputStates(const std::array<quint8, Inbound::InputCount> &states);

// A received text for one history line: escaped, and cut after a number of characters
// with its full length noted, so that a flood of text cannot flood the history.
QString receivedText(QStringView text, qsizetype shownCharacters = 64);

} // namespace LogText
