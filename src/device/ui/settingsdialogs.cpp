#include "settingsdialogs.h"

#include "serialport.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vl {

namespace {

QLabel *makeLabel(QWidget *parent, const char *objectName, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(objectName));
    return label;
}

}  // namespace

DeviceSettingDialog::DeviceSettingDialog(SerialPort *port, QWidget *parent, int number, DeviceSetting setting,
                                         const QStringList &choices)
    : QDialog(parent), m_port(port), m_number(number), m_setting(setting)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_comboBox = new QComboBox(this);
    m_comboBox->setObjectName(QStringLiteral("comboBox"));
    m_comboBox->setEditable(false);
    m_comboBox->addItems(choices);
    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &DeviceSettingDialog::on_buttonBox_accepted);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void DeviceSettingDialog::on_buttonBox_accepted() { emit connect_bool(m_number); }

void DeviceSettingDialog::start_send()
{
    const int value = settingValueForChoice(m_setting, m_comboBox->currentIndex());
    if (value < 0 || !m_port)
        return;
    m_port->conversation()->sendSetting(m_setting, quint16(value));
}

void DeviceSettingDialog::selectChoice(const QString &text)
{
    const int index = m_comboBox->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        m_comboBox->setCurrentIndex(index);
}

// ---------------------------------------------------------------------------------------

Bk_Tim_Dialog::Bk_Tim_Dialog(SerialPort *port, QWidget *parent)
    : DeviceSettingDialog(port, parent, 1, DeviceSetting::BreakTime, breakTimeChoices())
{
    setObjectName(QStringLiteral("Bk_Tim_Dialog"));
    setWindowTitle(QStringLiteral("DMX Break Time"));
    auto *layout = new QGridLayout(this);
    layout->addWidget(makeLabel(this, "label", QStringLiteral("DMX Break Time:")), 0, 0, 1, 2);
    layout->addWidget(m_comboBox, 1, 0);
    layout->addWidget(makeLabel(this, "label_2", QStringLiteral("us")), 1, 1);
    layout->addWidget(m_buttonBox, 2, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    resize(200, 100);
}

void Bk_Tim_Dialog::set_data()
{
    if (serialPort())
        selectChoice(QString::number(serialPort()->breakTime));
}

Abt_Dialog::Abt_Dialog(SerialPort *port, QWidget *parent)
    : DeviceSettingDialog(port, parent, 2, DeviceSetting::MarkAfterBreak, markAfterBreakChoices())
{
    setObjectName(QStringLiteral("Abt_Dialog"));
    setWindowTitle(QStringLiteral("DMX After Break Time"));
    auto *layout = new QGridLayout(this);
    layout->addWidget(makeLabel(this, "label", QStringLiteral("DMX After Break Time:")), 0, 0, 1, 2);
    layout->addWidget(m_comboBox, 1, 0);
    layout->addWidget(makeLabel(this, "label_2", QStringLiteral("us")), 1, 1);
    layout->addWidget(m_buttonBox, 2, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    resize(200, 100);
}

void Abt_Dialog::set_data()
{
    if (serialPort())
        selectChoice(QString::number(serialPort()->markAfterBreak));
}

cof_Dialog::cof_Dialog(SerialPort *port, QWidget *parent)
    : DeviceSettingDialog(port, parent, 3, DeviceSetting::Coefficient, coefficientChoices())
{
    setObjectName(QStringLiteral("cof_Dialog"));
    setWindowTitle(QStringLiteral("DMX Coefficient"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 11, 8, 11);  // room for the formula on one line
    QLabel *formula = makeLabel(this, "label", QStringLiteral("DMX value = MIDI value * Coefficient"));
    formula->setAlignment(Qt::AlignCenter);
    layout->addWidget(formula);
    auto *row = new QHBoxLayout;
    row->addWidget(makeLabel(this, "label_2", QStringLiteral("Coefficient:")));
    row->addWidget(m_comboBox, 1);
    layout->addLayout(row);
    layout->addStretch();
    layout->addWidget(m_buttonBox);
    resize(239, 154);
    connect(m_comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { emit send_mp(coefficientNumber(index)); });
}

double cof_Dialog::coefficient() const { return coefficientNumber(m_comboBox->currentIndex()); }

void cof_Dialog::set_data()
{
    if (!serialPort())
        return;
    const int code = serialPort()->coefficientCode;
    if (code >= 0 && code < m_comboBox->count())
        m_comboBox->setCurrentIndex(code);
}

sleep_time_Dialog::sleep_time_Dialog(SerialPort *port, QWidget *parent)
    : DeviceSettingDialog(port, parent, 6, DeviceSetting::SleepTime, sleepTimeChoices())
{
    setObjectName(QStringLiteral("sleep_time_Dialog"));
    setWindowTitle(QStringLiteral("Dialog"));
    auto *layout = new QGridLayout(this);
    QLabel *heading = makeLabel(this, "label", QStringLiteral("Sleep Time"));
    heading->setAlignment(Qt::AlignCenter);
    layout->addWidget(heading, 0, 0, 1, 3);
    layout->addWidget(makeLabel(this, "label_2", QStringLiteral("Time")), 1, 0);
    layout->addWidget(m_comboBox, 1, 1);
    layout->addWidget(makeLabel(this, "label_3", QStringLiteral("second")), 1, 2);
    layout->addWidget(m_buttonBox, 2, 0, 1, 3);
    layout->setColumnStretch(1, 1);
    resize(176, 118);
}

void sleep_time_Dialog::set_data()
{
    if (serialPort())
        selectChoice(QString::number(serialPort()->sleepCode * 10));
}

}  // namespace vl
