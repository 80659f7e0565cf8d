#pragma once

// The fixture details panel: the channels of one fixture with their remark, DMX channel and
// current level, the level also drawn as a green bar. The table is FixtureDetailsModel; this
// dialog only shows it.

#include "preview/core/fixturedetailsmodel.h"

#include <QDialog>
#include <QStyledItemDelegate>

class QLabel;
class QTableView;

namespace vl {

// Paints a "Value" cell as a green bar as wide as the level's share of 255, with the text
// centred over it.
class ProgressBarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The level a cell text shows: the number after its last ":" (the whole text without
    // one); 0 when that is not a number.
    static int cellValue(const QString &text);
    // The bar of a cell: the cell's left edge, top and height, width × value / 255
    // (truncated); the level is held to 0 … 255 so the bar never leaves the cell.
    static QRect barRect(const QRect &cell, int value);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

class FixtureDetailsDialog : public QDialog {
    Q_OBJECT
public:
    // Shows `model` (the preview's details table); without one the dialog keeps its own.
    explicit FixtureDetailsDialog(FixtureDetailsModel *model = nullptr, QWidget *parent = nullptr);

    // The label reads "Fixture Name: " and the name.
    void showFixtureName(const QString &name);
    // The name as the label shows it (its text after the last ": ").
    QString displayedFixtureName() const;
    void setChannels(const QList<FixtureChannel> &channels);
    // Empties the label and the table.
    void clearDetails();
    FixtureDetailsModel *detailsModel() const { return m_model; }

    QLabel *fixtureNameLabel() const { return m_label; }
    QTableView *detailsTableView() const { return m_view; }

private:
    FixtureDetailsModel *m_model;
    QLabel *m_label;
    QTableView *m_view;
};

}  // namespace vl
