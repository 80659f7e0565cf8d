#pragma once

// The rows of the preview's MIDI message log: "SN", "Event", "Channel", "No.", "Value".
// The log dialog shows this model; "Clear" empties it and numbering starts again at 1.

#include <QAbstractTableModel>
#include <QVector>

namespace vl {

struct MidiLogRow {
    int sn = 0;
    QString event;  // "Note On", "Note Off", "AT", "CC"
    int channel = 0;
    QString number;
    QString value;

    bool operator==(const MidiLogRow &o) const
    {
        return sn == o.sn && event == o.event && channel == o.channel && number == o.number && value == o.value;
    }
};

class MidiMessageLog : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { SnColumn, EventColumn, ChannelColumn, NumberColumn, ValueColumn, ColumnCount };

    explicit MidiMessageLog(QObject *parent = nullptr);

    // Appends a row numbered one past the rows before it.
    void logMidiMessage(const QString &event, int channel, const QString &numberText, const QString &valueText);
    void clear();
    const QVector<MidiLogRow> &rows() const { return m_rows; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QVector<MidiLogRow> m_rows;
};

}  // namespace vl
