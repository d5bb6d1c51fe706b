#include "accessibility.h"

#include <QAccessibleWidget>
#include <QPushButton>

#include "look.h"
#include "shapecontrol.h"

namespace Accessibility {
namespace {

struct StateName
{
    BgrColor colour;
    const char *text;
};

constexpr StateName SwitchStates[] = {{Bgr::Green, "włączone"}, {Bgr::Red, "wyłączone"}};
constexpr StateName LinkStates[] = {{Bgr::Green, "nawiązane"}, {Bgr::Red, "brak"}};
constexpr StateName HeartbeatStates[]
    = {{Bgr::Red, "czerwony"}, {Bgr::Blue, "niebieski"}, {Bgr::Green, "zielony"}};

QAccessibleInterface *indicatorFactory(const QString &, QObject *object)
{
    if (auto *indicator = qobject_cast<ShapeControl *>(object))
        return new QAccessibleWidget(indicator, QAccessible::Indicator);
    return nullptr;
}

} // namespace

QString stateText(Meaning meaning, BgrColor colour)
{
    auto find = [colour](const auto &table) -> QString {
        for (const StateName &state : table) {
            if (state.colour == colour)
                return QString::fromUtf8(state.text);
        }
        // A colour the panel never sets: name it rather than guess a meaning.
        return QStringLiteral("kolor %1").arg(Look::toQColor(colour).name());
    };
    switch (meaning) {
    case Meaning::Switch:
        return find(SwitchStates);
    case Meaning::Link:
        return find(LinkStates);
    case Meaning::Heartbeat:
        return find(HeartbeatStates);
    }
    return {};
}

void describe(ShapeControl *indicator, const QString &name, Meaning meaning)
{
    auto update = [indicator, name, meaning](BgrColor colour) {
        indicator->setAccessibleName(name + QStringLiteral(": ") + stateText(meaning, colour));
    };
    update(indicator->backColor());
    QObject::connect(indicator, &ShapeControl::backColorChanged, indicator, update);
}

void describePanel(const Form1::Controls &ui)
{
    static const bool installed = [] {
        QAccessible::installFactory(indicatorFactory);
        return true;
    }();
    Q_UNUSED(installed);

    for (int s = 1; s <= int(ui.O.size()); ++s) {
        for (int n = 1; n <= int(ui.O[0].size()); ++n) {
            describe(ui.O[size_t(s - 1)][size_t(n - 1)],
                     QStringLiteral("Wyjście %1, sekcja %2").arg(n).arg(s), Meaning::Switch);
            ui.S[size_t(s - 1)][size_t(n - 1)]->setAccessibleDescription(
                QStringLiteral("Przełącza wyjście %1 sekcji %2").arg(n).arg(s));
        }
    }
    for (int k = 1; k <= int(ui.I.size()); ++k)
        describe(ui.I[size_t(k - 1)], QStringLiteral("Wejście %1").arg(k), Meaning::Switch);
    describe(ui.Shape1, QStringLiteral("Nadzór łącza"), Meaning::Heartbeat);
    describe(ui.Shape2, QStringLiteral("Połączenie ze sterownikiem"), Meaning::Link);
}

} // namespace Accessibility
