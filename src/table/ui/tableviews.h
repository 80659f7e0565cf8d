#pragma once

// The rule view and the remark view beside it.

#include "viewops.h"

#include <QMenu>
#include <QPointer>
#include <QTableView>

class QStandardItemModel;

namespace vl {

class AliasStore;
class EditHistory;
class RuleModel;
class TextTableModel;

class MyTableView : public QTableView {
    Q_OBJECT
public:
    explicit MyTableView(QWidget *parent = nullptr);
    using QTableView::edit;

    int cnum() const { return m_cnum; }
    QStandardItemModel *remarkModel() const { return m_remarks; }
    void setRemarkModel(QStandardItemModel *remarks) { m_remarks = remarks; }
    // Where the DMX series takes its aliases from.
    AliasStore *aliasSource() const;
    void setAliasSource(AliasStore *source);

    // The history the view's commands are steps of (none: no steps are named).
    void setEditHistory(EditHistory *history);
    // What a paste of text copied in another program checks each cell with; without it
    // every text is pasted.
    void setPasteCheck(CellProblem check) { m_pasteCheck = std::move(check); }

    const CopyBuffer &copyBuffer() const { return m_copyBuffer; }
    // The context menu while it is open, nullptr otherwise.
    QMenu *contextMenu() const { return m_contextMenu; }

    // The rows a row command applies to: from the topmost to the bottommost row holding a
    // selected cell, whatever lies between. False when nothing is selected.
    bool commandRows(int *first, int *last) const;
    // The rows holding a selected cell, top to bottom, each once.
    QList<int> selectedRows() const;

public slots:
    void setCnum(int cnum) { m_cnum = cnum; }
    void showContextMenu(const QPoint &pos);

    // The row commands of the context menu.
    void insertRowsAbove();
    void deleteRowsMoveUp();
    void deleteSelectedRows();
    // "SN" of every row becomes its position + 1; runs after the context menu closes.
    void renumberSn();

    void copySelection();
    // Pastes the system clipboard's text when another program put it there, else the
    // view's own last copy.
    void pasteCopyBuffer();
    // Continues the series of row pressRow in `column` down to releaseRow.
    void fillDownSeries(int pressRow, int releaseRow, int column);

signals:
    void send_startrow(int row);
    void send_start_ad_strow(int startRow, int endRow);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    RuleModel *rules() const;
    TextTableModel *remarks() const;

    int m_cnum = 2;
    QPointer<EditHistory> m_history;
    CellProblem m_pasteCheck;
    QStandardItemModel *m_remarks = nullptr;
    QPointer<AliasStore> m_aliasSource;
    QPoint m_pressPoint;
    int m_pressRow = -1;
    int m_releaseRow = -1;
    CopyBuffer m_copyBuffer;
    QPointer<QMenu> m_contextMenu;
};

class MyTableView2 : public QTableView {
    Q_OBJECT
public:
    explicit MyTableView2(QWidget *parent = nullptr);
    void setEditHistory(EditHistory *history);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QPointer<EditHistory> m_history;
    QPoint m_pressPoint;
    QPersistentModelIndex m_pressIndex;
    int m_pressRow = -1;
    int m_releaseRow = -1;
};

// Only one of the two views shows a selection: when one of them takes the focus the other
// loses its selection, current cell and focus.
class SharedFocusFilter : public QObject {
    Q_OBJECT
public:
    SharedFocusFilter(QTableView *ruleView, QTableView *remarkView, QObject *parent = nullptr);
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QTableView> m_ruleView;
    QPointer<QTableView> m_remarkView;
};

// The style both views share: dark cells, light text, a yellow-green selection.
const QString &tableViewStyleSheet();

// Each view's vertical scroll bar follows the other's.
void linkVerticalScrollBars(QTableView *a, QTableView *b);

}  // namespace vl
