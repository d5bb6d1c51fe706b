#include "form2.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "errorreporter.h"
#include "look.h"
#include "pictures.h"
#include "twips.h"

namespace {

constexpr int ClientWidth = 5175;
constexpr int ClientHeight = 4695;
constexpr Twips::Rect Frame1 {120, 120, 4935, 4455};
constexpr Twips::Rect Command1 {1440, 3840, 1935, 375};

enum class Style { Title, Line, Notice };

// Inside Frame1, top to bottom, in twips from the frame's outer corner.
struct LabelDesign
{
    QLabel *Form2::Controls::*field;
    const char *name;
    Twips::Rect rect;
    Style style;
    const char *caption;
};
using C = Form2::Controls;
constexpr LabelDesign Labels[] = {
    {&C::Label1, "Label1", {120, 240, 4695, 975}, Style::Title, "Korvan"},
    // The author lines start at different places, set so that lines of these lengths stand
    // centred one under the other.
    {&C::Label2, "Label2", {1080, 1320, 3375, 255}, Style::Line, "Autor: zespół projektu Korvan"},
    {&C::Label3, "Label3", {1320, 1680, 2295, 255}, Style::Line, "Telefon: w dokumentacji"},
    {&C::Label4,
     "Label4",
     {960, 2040, 3375, 255},
     Style::Line,
     "E-mail: w dokumentacji instalacji"},
    {&C::Label6, "Label6", {1080, 2400, 3375, 255}, Style::Line, "WWW: w dokumentacji panelu"},
    {&C::Label5,
     "Label5",
     {600, 3000, 3495, 615},
     Style::Notice,
     "Do obsługi sterownika przez przeszkolonego operatora, zgodnie z dokumentacją "
     "instalacji."},
};

// The instance lives as long as the application; it goes before the application does,
// since no widget may outlive it.
QPointer<Form2> s_instance;

void destroyInstance()
{
    delete s_instance.data();
}

} // namespace

Form2::Form2()
    : m_errors(new ErrorReporter(this))
{
    Look::setUpWindow(this, QStringLiteral("Form2"), QStringLiteral("O programie"),
                      Pictures::icon(Pictures::Picture::Information),
                      Twips::toPixels(ClientWidth, ClientHeight));
}

Form2 *Form2::instance()
{
    return s_instance.data();
}

void Form2::showInstance()
{
    if (!s_instance) {
        s_instance = new Form2;
        qAddPostRoutine(destroyInstance);
    }
    Form2 *form = s_instance.data();
    if (form->isLoaded()) {
        form->raise();
        form->activateWindow();
        return;
    }
    form->load();
    form->show();
    form->activateWindow();
}

void Form2::load()
{
    ui.Frame1 = new QGroupBox(this);
    ui.Frame1->setObjectName(QStringLiteral("Frame1"));
    ui.Frame1->setGeometry(Twips::toPixels(Frame1));

    for (const LabelDesign &design : Labels) {
        auto *label = new QLabel(QString::fromUtf8(design.caption), ui.Frame1);
        label->setObjectName(QLatin1String(design.name));
        label->setGeometry(Twips::toPixels(design.rect));
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        switch (design.style) {
        case Style::Title:
            label->setFont(Look::designFont(Look::TitlePointSize, true));
            Look::setTextColour(label, Bgr::Blue);
            break;
        case Style::Line:
            label->setFont(Look::designFont(Look::DefaultPointSize, true));
            break;
        case Style::Notice:
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            Look::setTextColour(label, Bgr::Red);
            break;
        }
        ui.*design.field = label;
    }

    ui.Command1 = new QPushButton(QStringLiteral("Zamknij"), ui.Frame1);
    ui.Command1->setObjectName(QStringLiteral("Command1"));
    ui.Command1->setGeometry(Twips::toPixels(Command1));
    // Queued: the button is destroyed by the unload it starts.
    m_errors->connectHandler(ui.Command1, &QAbstractButton::clicked, "Click", this,
                             &Form2::Command1_Click, Qt::QueuedConnection);
    m_centreOnShow = true;
    ui.Command1->setFocus();
}

void Form2::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Centred each time it is loaded; the frame it is centred with exists only now.
    if (std::exchange(m_centreOnShow, false))
        Look::centreOnScreen(this);
}

void Form2::unload()
{
    delete ui.Frame1;
    ui = Controls();
}

void Form2::closeEvent(QCloseEvent *event)
{
    unload();
    event->accept();
}

void Form2::Command1_Click()
{
    close();
}
