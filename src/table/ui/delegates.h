#pragma once

// The cell editors and the painting of the rule view and the remark view.

#include <QPointer>
#include <QStyledItemDelegate>
#include <QVector>

class QComboBox;

namespace vl {

// The cell an editor of CombinedDelegate edits, from its "index" property; invalid when
// the editor has none or its row has gone.
QModelIndex editorIndex(const QObject *editor);

class CombinedDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit CombinedDelegate(QObject *parent = nullptr);

    // The drop-down items of a column's editor; empty for columns edited as free text.
    static const QStringList &editorItems(int column);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void destroyEditor(QWidget *editor, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    int cnum() const { return m_cnum; }
    QString lastStatusText() const { return m_lastStatus; }

    // The drop-down editors open on a column right now (at most a handful).
    QList<QComboBox *> openComboEditors(int column) const;

    // Labels the items of every open controller editor for its row's status: numbers for
    // "CC", numbers with note names otherwise. Only items whose label differs are written,
    // and the current item stays. Returns the number of items relabelled.
    int relabelControllerEditors();
    // Labels the items of every open DMX editor with the channels' texts under `aliases`
    // ("5-Spot"). Only items whose label differs are written, and the current item stays.
    void relabelDmxEditors(const QStringList &aliases);

public slots:
    void setCnum(int cnum) { m_cnum = cnum; }
    // A pick in any drop-down editor: an empty row gets the row above's values or defaults.
    void fillEmptyRowDefaults();
    // The status editor's text changed: the row's controller text takes the new form.
    void convertControllerForStatus(const QString &text);

private:
    int m_cnum = 2;
    QString m_lastStatus;
    mutable QVector<QPointer<QWidget>> m_openEditors;
};

class KepItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

}  // namespace vl
