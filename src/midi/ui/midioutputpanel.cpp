#include "midioutputpanel.h"

#include "common/ui/dialogs.h"
#include "common/core/scheduler.h"
#include "keyboardwidget.h"
#include "midikeybutton.h"
#include "midi/core/midimessage.h"
#include "midi/core/qmidiout.h"

#include <QComboBox>
#include <QPushButton>

namespace vl {

namespace {
const char kTitle[] = "MIDI";
const char kBoxName[] = "KVR-9000";
const char kBoxDisplayName[] = "Nemora KVR-9000";
constexpr int kScanMs = 1000;
}  // namespace

MidiOutputPanel::MidiOutputPanel(QComboBox *comboBox, QPushButton *connectButton, QWidget *dialogParent,
                                 QMidiOut *midiOut, QObject *parent)
    : QObject(parent), m_comboBox(comboBox), m_button(connectButton), m_dialogParent(dialogParent),
      m_midiOut(midiOut ? midiOut : new QMidiOut(this))
{
    m_midiOut->setParent(this);
    if (m_button)
        connect(m_button, &QPushButton::clicked, this, &MidiOutputPanel::on_pushButton_5_clicked);
    m_scanTimer = scheduler().createTimer(this);
    connect(m_scanTimer, &Timer::timeout, this, &MidiOutputPanel::scanConnectionList);
    m_scanTimer->start(kScanMs);
}

void MidiOutputPanel::setKeyboards(const QList<KeyboardWidget *> &keyboards)
{
    m_keyboards.clear();
    for (KeyboardWidget *k : keyboards)
        m_keyboards.append(k);
    setKeysConnected(m_midiConnected);
}

void MidiOutputPanel::fillConnectionListAtStart() { fillList(true); }

void MidiOutputPanel::scanConnectionList() { fillList(false); }

void MidiOutputPanel::fillList(bool brandBoxPorts)
{
    if (!m_comboBox)
        return;
    const QMap<QString, QString> devices = m_midiOut->listDevices();
    QList<QPair<QString, QString>> items;  // text, id
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        QString name = it.value();
        if (brandBoxPorts && name.contains(QLatin1String(kBoxName)))
            name = QLatin1String(kBoxDisplayName);
        items.append({name, it.key()});
    }

    // An unchanged list is left alone, so an open drop-down does not flicker every second.
    bool same = m_comboBox->count() == items.size();
    for (int i = 0; same && i < items.size(); ++i) {
        same = m_comboBox->itemText(i) == items[i].first && m_comboBox->itemData(i).toString() == items[i].second;
    }
    if (same)
        return;

    const int position = m_comboBox->currentIndex();
    m_comboBox->clear();
    for (const auto &item : qAsConst(items))
        m_comboBox->addItem(item.first, item.second);
    if (position >= 0 && position < m_comboBox->count())
        m_comboBox->setCurrentIndex(position);
}

void MidiOutputPanel::on_pushButton_5_clicked()
{
    if (!m_comboBox || m_comboBox->currentIndex() < 0) {
        warning(m_dialogParent, kTitle, QStringLiteral("No device selected."));
        return;
    }
    if (m_midiConnected) {
        m_midiOut->closeDevice();
        m_midiConnected = false;
        if (m_button)
            m_button->setText(QStringLiteral("Connect"));
        m_comboBox->setEnabled(true);
        setKeysConnected(false);
        information(m_dialogParent, kTitle, QStringLiteral("Disconnected MIDI device."));
        return;
    }
    bool ok = false;
    const int id = m_comboBox->currentData().toString().toInt(&ok);
    if (ok && m_midiOut->openDevice(id)) {
        m_midiConnected = true;
        if (m_button)
            m_button->setText(QStringLiteral("Disconnect"));
        m_comboBox->setEnabled(false);
        setKeysConnected(true);
        information(m_dialogParent, kTitle, QStringLiteral("Successfully connected to MIDI device."));
    } else {
        critical(m_dialogParent, kTitle, QStringLiteral("Failed to connect to MIDI device."));
    }
}

void MidiOutputPanel::setKeysConnected(bool connected)
{
    for (const QPointer<KeyboardWidget> &keyboard : qAsConst(m_keyboards)) {
        if (!keyboard)
            continue;
        for (MidiKeyButton *key : keyboard->keys())
            key->outputConnected = connected;
    }
}

void MidiOutputPanel::warnNotConnected()
{
    warning(m_dialogParent, QStringLiteral("Connection Failed"),
            QStringLiteral("Device is not connected, unable to send control change messages!"));
}

void MidiOutputPanel::sendNoteMessage(int channel, int note, int velocity)
{
    if (!m_midiConnected) {
        warnNotConnected();
        return;
    }
    if (midi::isMidiChannel(channel) && midi::inMidiRange(note) && midi::inMidiRange(velocity))
        m_midiOut->sendMsg(int(midi::noteMessage(channel, note, velocity)));
}

void MidiOutputPanel::sendPolyAftertouch(int channel, int note, int pressure)
{
    if (midi::isMidiChannel(channel) && midi::inMidiRange(note) && midi::inMidiRange(pressure))
        m_midiOut->sendMessage(QStringLiteral("short"), int(midi::polyAftertouchMessage(channel, note, pressure)));
}

void MidiOutputPanel::sendControlChange(int channel, int controller, int value)
{
    if (!m_midiConnected) {
        warnNotConnected();
        return;
    }
    const QString title = QStringLiteral("Invalid Parameter");
    if (!midi::isMidiChannel(channel)) {
        warning(m_dialogParent, title, QStringLiteral("Channel number must be between 1 and 16!"));
        return;
    }
    if (!midi::inMidiRange(controller)) {
        warning(m_dialogParent, title, QStringLiteral("Controller number must be between 0 and 127!"));
        return;
    }
    if (!midi::inMidiRange(value)) {
        warning(m_dialogParent, title, QStringLiteral("Control value must be between 0 and 127!"));
        return;
    }
    m_midiOut->sendMsg(int(midi::controlChangeMessage(channel, controller, value)));
}

}  // namespace vl
