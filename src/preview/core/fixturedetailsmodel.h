#pragma once

// The table of the fixture details panel: one row per channel of the fixture shown, with
// its remark, its DMX channel and its current level. Channels of the second DMX port read
// "512+n". The channel's SN is kept under kSnRole of the "DMX Channel" cell; the engine and
// the rule-row following find a channel's row by it.
//
// Cells hold texts: the engine and the rule-row following write them directly, so a cell
// may show a text that is not the registry's (for instance a DMX text just typed in the
// rule table) until the panel is filled again.

#include "fixtureregistry.h"

#include <QAbstractTableModel>
#include <QVector>

namespace vl {

class FixtureDetailsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { RemarkColumn = 0, DmxColumn = 1, ValueColumn = 2, ColumnCount = 3 };
    // The SN of a row's channel, as decimal text, under the "DMX Channel" cell.
    static constexpr int kSnRole = Qt::UserRole + 1;

    explicit FixtureDetailsModel(QObject *parent = nullptr);

    // The panel's label: "Fixture Name: <name>" until a fixture is shown.
    QString labelText() const { return m_label; }
    void showFixtureName(const QString &name);
    // The label's text after its last ": " (so a name holding ": " gives only its end).
    QString displayedFixtureName() const;

    // One row per channel, in order; the previous rows go.
    void setChannels(const QList<FixtureChannel> &channels);
    // Empties the label and the table.
    void clearDetails();

    // "n" up to 512, "512+m" above.
    static QString dmxText(int dmx);

    // Rows whose "DMX Channel" text reads as the whole number dmx (rows of the second port,
    // shown as "512+m", never do).
    QVector<int> rowsShowingDmx(int dmx) const;
    // Rows of the channels with this SN.
    QVector<int> rowsOfSn(int sn) const;
    QString cellText(int row, int column) const;
    void setCellText(int row, int column, const QString &text);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    void labelTextChanged(const QString &text);

private:
    struct Row {
        QString cells[ColumnCount];
        int sn = 0;
    };
    QVector<Row> m_rows;
    QString m_label;
};

}  // namespace vl
