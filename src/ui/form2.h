#pragma once

#include <QWidget>

// The About window. One instance for the whole run, created on first use.
class Form2 : public QWidget
{
    Q_OBJECT

public:
    static Form2 *instance();
    static void showInstance();

private:
    Form2();
};
