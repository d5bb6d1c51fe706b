#include "form2.h"

Form2::Form2()
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("O programie"));
}

Form2 *Form2::instance()
{
    static Form2 *form = new Form2;
    return form;
}

void Form2::showInstance()
{
    instance()->show();
}
