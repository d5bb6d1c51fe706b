#pragma once

#include <QWidget>

class ErrorReporter;
class QGroupBox;
class QLabel;
class QPushButton;

// The About window. One instance for the whole run, created on first use and never
// owned by another window. Closing it unloads it: its controls are destroyed and the
// next showing builds them again from their design values.
class Form2 : public QWidget
{
    Q_OBJECT

public:
    struct Controls
    {
        QGroupBox *Frame1 = nullptr;
        QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
               *Label5 = nullptr, *Label6 = nullptr;
        QPushButton *Command1 = nullptr;
    };

    // The instance, or nullptr before the first use.
    static Form2 *instance();
    // Creates the instance if needed, loads it if it is unloaded, and shows it.
    static void showInstance();

    bool isLoaded() const { return ui.Frame1 != nullptr; }
    const Controls &controls() const { return ui; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    Form2();

    void load();
    void unload();
    void Command1_Click();

    Controls ui;
    ErrorReporter *m_errors = nullptr;
    bool m_centreOnShow = false;
};
