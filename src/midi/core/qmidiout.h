#pragma once

// The computer's MIDI output: lists the output ports, keeps one of them open and sends
// short messages to it.

#include "midibackend.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>

namespace vl {

class QMidiOut : public QObject {
    Q_OBJECT
public:
    explicit QMidiOut(QObject *parent = nullptr);
    explicit QMidiOut(MidiSystem system, QObject *parent = nullptr);
    // Uses the given back end instead of RtMidi.
    explicit QMidiOut(std::unique_ptr<MidiBackend> backend, QObject *parent = nullptr);
    ~QMidiOut() override;

    // Device id written as decimal text -> port name. The map orders its keys as text, so
    // with eleven ports or more "10" comes before "2".
    QMap<QString, QString> listDevices();

    // Opens a port by device id, closing the open one first. False when it did not open;
    // the reason goes to the log and to lastError().
    bool openDevice(int id);
    void closeDevice();
    bool isOpen() const { return m_open; }

    // Only "short" messages are sent (value: a packed short message); other kinds are
    // ignored. Nothing is sent while no port is open.
    bool sendMessage(const QString &kind, const QVariant &value);
    // Sends one packed short message (see midi/midimessage.h) while a port is open.
    // Failures are logged, never retried.
    bool sendMsg(int packed);

    QString lastError() const { return m_lastError; }

private:
    std::unique_ptr<MidiBackend> m_backend;
    bool m_open = false;
    QString m_lastError;
};

}  // namespace vl
