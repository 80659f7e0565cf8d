#pragma once

// The MIDI output controls of the light preview: the port list in a combo box, refreshed
// every second, the Connect / Disconnect button, and the note, aftertouch and controller
// messages that the preview's keyboards and faders send. The preview window creates it in
// its constructor, hands it its widgets and keeps it for its whole life.

#include "common/core/scheduler.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QComboBox;
class QPushButton;
class QWidget;

namespace vl {

class KeyboardWidget;
class QMidiOut;

class MidiOutputPanel : public QObject {
    Q_OBJECT
public:
    // comboBox lists the ports (text: port name, data: device id text). connectButton
    // reads "Connect" or "Disconnect"; its clicked signal is connected here to
    // on_pushButton_5_clicked(), so the window must not bind it a second time. Message
    // boxes are parented to dialogParent. midiOut is taken over as a child; without one
    // the panel makes its own on the computer's MIDI system. The port list timer starts
    // here.
    MidiOutputPanel(QComboBox *comboBox, QPushButton *connectButton, QWidget *dialogParent, QMidiOut *midiOut = nullptr,
                    QObject *parent = nullptr);

    // The keyboards whose keys learn whether an output port is open.
    void setKeyboards(const QList<KeyboardWidget *> &keyboards);

    bool midiConnected() const { return m_midiConnected; }
    QMidiOut *midiOut() const { return m_midiOut; }
    // The 1000 ms port list refresh, on the scheduler that was current when the panel was made.
    Timer *scanTimer() const { return m_scanTimer; }

    // The first fill of the port list when the window is built: a port whose name holds
    // "KVR-9000" is shown as "Nemora KVR-9000". The periodic refresh shows plain names.
    void fillConnectionListAtStart();

    // Messages to the open port; channels are 1..16, everything else 0..127.
    void sendNoteMessage(int channel, int note, int velocity);
    void sendPolyAftertouch(int channel, int note, int pressure);
    void sendControlChange(int channel, int controller, int value);

public slots:
    // Refills the port list, keeping the selected position (not the selected device).
    void scanConnectionList();
    void on_pushButton_5_clicked();

private:
    void fillList(bool brandBoxPorts);
    void setKeysConnected(bool connected);
    void warnNotConnected();

    QPointer<QComboBox> m_comboBox;
    QPointer<QPushButton> m_button;
    QPointer<QWidget> m_dialogParent;
    QMidiOut *m_midiOut;
    QList<QPointer<KeyboardWidget>> m_keyboards;
    Timer *m_scanTimer = nullptr;
    bool m_midiConnected = false;
};

}  // namespace vl
