#pragma once

// The four small dialogs that show one of the box's operating values and send a new one:
// break time, mark-after-break time, coefficient and sleep time. Each shows the value the
// box last reported (set_data), asks the window whether the link is open when OK is
// pressed (connect_bool), and writes the settings command when the window says so
// (start_send).

#include "device/core/settingsframes.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;

namespace vl {

class SerialPort;

class DeviceSettingDialog : public QDialog {
    Q_OBJECT
public:
    QComboBox *comboBox() const { return m_comboBox; }
    QDialogButtonBox *buttonBox() const { return m_buttonBox; }
    SerialPort *serialPort() const { return m_port; }
    // The number connect_bool carries: 1, 2, 3 or 6.
    int dialogNumber() const { return m_number; }

signals:
    void connect_bool(int num);

public slots:
    // Selects the value the box last reported; a value that matches no choice changes
    // nothing.
    virtual void set_data() = 0;
    // Writes the settings command for the current choice.
    void start_send();
    void on_buttonBox_accepted();

protected:
    DeviceSettingDialog(SerialPort *port, QWidget *parent, int number, DeviceSetting setting,
                        const QStringList &choices);
    void selectChoice(const QString &text);

    QComboBox *m_comboBox = nullptr;
    QDialogButtonBox *m_buttonBox = nullptr;

private:
    SerialPort *m_port = nullptr;
    int m_number = 0;
    DeviceSetting m_setting;
};

class Bk_Tim_Dialog : public DeviceSettingDialog {
    Q_OBJECT
public:
    Bk_Tim_Dialog(SerialPort *port, QWidget *parent = nullptr);
public slots:
    void set_data() override;
};

class Abt_Dialog : public DeviceSettingDialog {
    Q_OBJECT
public:
    Abt_Dialog(SerialPort *port, QWidget *parent = nullptr);
public slots:
    void set_data() override;
};

class cof_Dialog : public DeviceSettingDialog {
    Q_OBJECT
public:
    cof_Dialog(SerialPort *port, QWidget *parent = nullptr);
    // The factor of the current choice; 0.0 when there is none.
    double coefficient() const;
signals:
    void send_mp(double num);
public slots:
    void set_data() override;
};

class sleep_time_Dialog : public DeviceSettingDialog {
    Q_OBJECT
public:
    sleep_time_Dialog(SerialPort *port, QWidget *parent = nullptr);
public slots:
    void set_data() override;
};

}  // namespace vl
