#include "qmidiout.h"

#include "midilog.h"
#include "midimessage.h"

namespace vl {

Q_LOGGING_CATEGORY(lcMidi, "varilume.midi", QtInfoMsg)

QMidiOut::QMidiOut(QObject *parent) : QMidiOut(MidiSystem::Automatic, parent) {}

QMidiOut::QMidiOut(MidiSystem system, QObject *parent) : QMidiOut(makeRtMidiBackend(system), parent) {}

QMidiOut::QMidiOut(std::unique_ptr<MidiBackend> backend, QObject *parent)
    : QObject(parent), m_backend(std::move(backend))
{
}

QMidiOut::~QMidiOut() { closeDevice(); }

QMap<QString, QString> QMidiOut::listDevices()
{
    QMap<QString, QString> devices;
    const QStringList names = m_backend->portNames();
    for (int id = 0; id < names.size(); ++id)
        devices.insert(QString::number(id), names[id]);
    return devices;
}

bool QMidiOut::openDevice(int id)
{
    closeDevice();
    QString error;
    if (!m_backend->open(id, &error)) {
        m_lastError = error;
        qCWarning(lcMidi) << "could not open MIDI output" << id << ":" << error;
        return false;
    }
    m_open = true;
    return true;
}

void QMidiOut::closeDevice()
{
    if (!m_open)
        return;
    m_backend->close();
    m_open = false;
}

bool QMidiOut::sendMessage(const QString &kind, const QVariant &value)
{
    if (!m_open || kind != QLatin1String("short"))
        return false;
    return sendMsg(value.toInt());
}

bool QMidiOut::sendMsg(int packed)
{
    if (!m_open)
        return false;
    const QByteArray bytes = midi::shortMessageBytes(quint32(packed));
    if (bytes.isEmpty()) {
        m_lastError = QStringLiteral("not a short MIDI message: 0x%1").arg(quint32(packed), 0, 16);
        qCDebug(lcMidi) << m_lastError;
        return false;
    }
    QString error;
    if (!m_backend->send(bytes, &error)) {
        m_lastError = error;
        qCDebug(lcMidi) << "MIDI send failed:" << error;
        return false;
    }
    return true;
}

}  // namespace vl
