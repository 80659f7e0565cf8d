#include "tableviews.h"

#include "table/core/aliasstore.h"
#include "delegates.h"
#include "edithistory.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include "common/ui/dialogs.h"
#include <QApplication>

#include <QClipboard>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

namespace vl {

namespace {

bool isDeleteKey(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// A drag fills only when released this far below the press point and not farther right.
constexpr int kFillMinDown = 20;
constexpr int kFillMaxRight = 100;

}  // namespace

const QString &tableViewStyleSheet()
{
    static const QString style = QStringLiteral(
        "QTableView { background-color: #4F4F4F; gridline-color: #4F4F4F; color: #F8F8FF;"
        " selection-background-color: rgba(202, 244, 27, 0.3); }"
        "QTableView::item { background-color: rgba(255, 255, 255, 0.1); color: #F8F8FF;"
        " text-align: center; }"
        "QTableView::item:selected { background-color: rgba(202, 244, 27, 0.3); }");
    return style;
}

MyTableView::MyTableView(QWidget *parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("tableView"));
    setStyleSheet(tableViewStyleSheet());
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setMouseTracking(true);
    connect(this, &QWidget::customContextMenuRequested, this, &MyTableView::showContextMenu);
}

AliasStore *MyTableView::aliasSource() const { return m_aliasSource; }

void MyTableView::setAliasSource(AliasStore *source) { m_aliasSource = source; }

void MyTableView::setEditHistory(EditHistory *history) { m_history = history; }

RuleModel *MyTableView::rules() const { return qobject_cast<RuleModel *>(model()); }

TextTableModel *MyTableView::remarks() const { return qobject_cast<TextTableModel *>(m_remarks); }

bool MyTableView::commandRows(int *first, int *last) const
{
    if (!selectionModel())
        return false;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return false;
    const auto [top, bottom] = std::minmax_element(
        selected.begin(), selected.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    *first = top->row();
    *last = bottom->row();
    return true;
}

QList<int> MyTableView::selectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex &index : selectionModel()->selectedIndexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void MyTableView::showContextMenu(const QPoint &pos)
{
    const QModelIndex at = indexAt(pos);
    if (!at.isValid() || at.column() != ColSn)
        return;
    if (m_contextMenu)
        m_contextMenu->close();
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->addAction(QStringLiteral("Insert rows above"), this, &MyTableView::insertRowsAbove);
    menu->addAction(QStringLiteral("Delete the current rows and move the next row up"), this,
                    &MyTableView::deleteRowsMoveUp);
    menu->addAction(QStringLiteral("Delete selected rows"), this, &MyTableView::deleteSelectedRows);
    // A menu hides before the chosen entry runs: renumber and let the menu go afterwards.
    connect(menu, &QMenu::aboutToHide, this, [this, menu] {
        QMetaObject::invokeMethod(this, &MyTableView::renumberSn, Qt::QueuedConnection);
        menu->deleteLater();
    });
    m_contextMenu = menu;
    menu->popup(viewport()->mapToGlobal(pos));
}

void MyTableView::insertRowsAbove()
{
    int first = 0, last = 0;
    RuleModel *m = rules();
    if (!m || !commandRows(&first, &last))
        return;
    // The rows go in one by one, and the preview hears of each one as it goes in, so that
    // its fixtures follow their rules down by as many rows as were inserted.
    const EditHistory::Step step(m_history, QStringLiteral("Insert Rows"));
    for (int h = first; h <= last; ++h) {
        emit send_startrow(h);
        insertEmptyRow(*m, remarks(), h);
    }
    if (m_history)
        m_history->noteRowShift(first, last, true);
    vl::renumberSn(*m);  // in the step: a redo gives the numbers back too
}

void MyTableView::deleteRowsMoveUp()
{
    int first = 0, last = 0;
    RuleModel *m = rules();
    if (!m || !commandRows(&first, &last))
        return;
    const EditHistory::Step step(m_history, QStringLiteral("Delete Rows"));
    emit send_start_ad_strow(first, last);
    if (m_history)
        m_history->noteRowShift(first, last, false);
    vl::deleteRowsMoveUp(*m, remarks(), first, last);
    vl::renumberSn(*m);
}

void MyTableView::deleteSelectedRows()
{
    RuleModel *m = rules();
    const QList<int> rows = selectedRows();
    if (!m || rows.isEmpty())
        return;
    // Only the rows the user chose: rows between two chosen with Ctrl keep their rules.
    const EditHistory::Step step(m_history, QStringLiteral("Delete Selected Rows"));
    for (int r : rows)
        emptyRows(*m, remarks(), r, r);
}

void MyTableView::renumberSn()
{
    // Follows the row menu, even when it closed without a choice; the row commands have
    // numbered their rows already, and the numbers are no step of their own.
    const EditHistory::Automatic automatic(m_history);
    if (RuleModel *m = rules())
        vl::renumberSn(*m);
}

void MyTableView::copySelection()
{
    auto *m = qobject_cast<TextTableModel *>(model());
    if (!m || !selectionModel())
        return;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    m_copyBuffer = copyCells(*m, selected);
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(copyBufferText(m_copyBuffer));
}

void MyTableView::pasteCopyBuffer()
{
    auto *m = qobject_cast<TextTableModel *>(model());
    const QModelIndex current = currentIndex();
    if (!m || !current.isValid())
        return;
    // Text another program copied (or this view's copy, changed there) comes first; the
    // view's own copy keeps the cells it skips.
    const QClipboard *clipboard = QGuiApplication::clipboard();
    const QString copied = clipboard ? clipboard->text() : QString();
    CopyBuffer buffer = m_copyBuffer;
    if (!copied.isEmpty() && copied != copyBufferText(m_copyBuffer)) {
        buffer = parseCopiedText(copied);
        const QString problem = firstPasteProblem(*m, buffer, current.row(), current.column(), m_pasteCheck);
        if (!problem.isEmpty()) {
            warning(this, QStringLiteral("Paste"), problem + QStringLiteral("\n\nNothing was pasted."));
            return;
        }
    }
    if (buffer.isEmpty())
        return;
    const EditHistory::Step step(m_history, QStringLiteral("Paste"));
    pasteCells(*m, buffer, current.row(), current.column());
}

void MyTableView::fillDownSeries(int pressRow, int releaseRow, int column)
{
    RuleModel *m = rules();
    if (!m)
        return;
    const QStringList aliases = m_aliasSource ? m_aliasSource->aliases() : QStringList();
    const EditHistory::Step step(m_history, QStringLiteral("Fill Down"));
    vl::fillDownSeries(*m, pressRow, releaseRow, column, m_cnum, aliases);
}

void MyTableView::mousePressEvent(QMouseEvent *event)
{
    QTableView::mousePressEvent(event);
    m_pressPoint = event->pos();
    m_pressRow = currentIndex().row();
}

void MyTableView::mouseMoveEvent(QMouseEvent *event)
{
    QTableView::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) && event->pos().y() - m_pressPoint.y() > QApplication::startDragDistance())
        viewport()->setCursor(Qt::SizeFDiagCursor);
}

void MyTableView::mouseReleaseEvent(QMouseEvent *event)
{
    QTableView::mouseReleaseEvent(event);
    viewport()->setCursor(Qt::ArrowCursor);
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex current = currentIndex();
    const int column = current.column();
    m_releaseRow = current.row();
    const QPoint moved = event->pos() - m_pressPoint;
    RuleModel *m = rules();
    if (!m || moved.y() <= kFillMinDown || moved.x() > kFillMaxRight || column == ColSn || m_pressRow < 0
        || m->isEmptyCell(m_pressRow, column) || m_releaseRow >= m->rowCount())
        return;
    fillDownSeries(m_pressRow, m_releaseRow, column);
}

void MyTableView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        pasteCopyBuffer();
        event->accept();
        return;
    }
    if (isDeleteKey(event)) {
        auto *m = qobject_cast<TextTableModel *>(model());
        if (m && selectionModel()) {
            const EditHistory::Step step(m_history, QStringLiteral("Delete"));
            for (const QModelIndex &index : selectionModel()->selectedIndexes()) {
                // "SN" is the row's number: it stays, or a saved workbook would end there.
                if (index.column() == ColSn)
                    continue;
                const QStandardItem *item = m->itemFromIndex(index);
                if (item && item->isEditable())
                    m->clearCell(index.row(), index.column());
            }
        }
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool MyTableView::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    const bool editing = QTableView::edit(index, trigger, event);
    if (editing) {
        if (auto *line = qobject_cast<QLineEdit *>(indexWidget(index))) {
            line->removeEventFilter(this);
            line->installEventFilter(this);
        }
    }
    return editing;
}

bool MyTableView::eventFilter(QObject *watched, QEvent *event)
{
    // Return in the "SN" line editor: the cell is emptied first and then receives the
    // typed text, so the change is announced even when the text is the same.
    auto *line = qobject_cast<QLineEdit *>(watched);
    if (line && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        auto *m = qobject_cast<TextTableModel *>(model());
        const QModelIndex index = editorIndex(line);
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m && index.isValid() && index.model() == m) {
            QString typed = line->text();
            // An emptied "SN" keeps the row's number.
            if (index.column() == ColSn && typed.trimmed().isEmpty())
                typed = QString::number(index.row() + 1);
            m->clearCell(index.row(), index.column());
            line->setText(typed);  // emptying the cell also emptied its open editor
        }
    }
    return QTableView::eventFilter(watched, event);
}

MyTableView2::MyTableView2(QWidget *parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("tableView_2"));
    setStyleSheet(tableViewStyleSheet());
    setMouseTracking(true);
}

void MyTableView2::setEditHistory(EditHistory *history) { m_history = history; }

void MyTableView2::mousePressEvent(QMouseEvent *event)
{
    QTableView::mousePressEvent(event);
    m_pressPoint = event->pos();
    m_pressIndex = indexAt(event->pos());
    m_pressRow = m_pressIndex.row();
}

void MyTableView2::mouseMoveEvent(QMouseEvent *event)
{
    QTableView::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) && event->pos().y() - m_pressPoint.y() > QApplication::startDragDistance())
        viewport()->setCursor(Qt::SizeAllCursor);
}

void MyTableView2::mouseReleaseEvent(QMouseEvent *event)
{
    QTableView::mouseReleaseEvent(event);
    viewport()->setCursor(Qt::ArrowCursor);
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex released = indexAt(event->pos());
    m_releaseRow = released.row();
    auto *m = qobject_cast<TextTableModel *>(model());
    if (!m || !m_pressIndex.isValid() || !released.isValid() || m_pressRow >= m_releaseRow
        || m_releaseRow >= m->rowCount())
        return;
    const QString text = m_pressIndex.data(Qt::DisplayRole).toString();
    const EditHistory::Step step(m_history, QStringLiteral("Fill Down"));
    for (int r = m_pressRow + 1; r <= m_releaseRow; ++r)
        putText(*m, r, m_pressIndex.column(), text);
}

void MyTableView2::keyPressEvent(QKeyEvent *event)
{
    if (isDeleteKey(event)) {
        auto *m = qobject_cast<TextTableModel *>(model());
        if (m && selectionModel()) {
            const EditHistory::Step step(m_history, QStringLiteral("Delete"));
            for (const QModelIndex &index : selectionModel()->selectedIndexes())
                m->clearCell(index.row(), index.column());
        }
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

SharedFocusFilter::SharedFocusFilter(QTableView *ruleView, QTableView *remarkView, QObject *parent)
    : QObject(parent), m_ruleView(ruleView), m_remarkView(remarkView)
{
}

bool SharedFocusFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && m_ruleView && m_remarkView
        && (watched == m_ruleView || watched == m_remarkView)) {
        QTableView *view = watched == m_ruleView ? m_ruleView.data() : m_remarkView.data();
        QTableView *other = view == m_ruleView ? m_remarkView.data() : m_ruleView.data();
        other->clearSelection();
        if (other->selectionModel())
            other->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        other->clearFocus();
        view->setFocus(Qt::OtherFocusReason);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void linkVerticalScrollBars(QTableView *a, QTableView *b)
{
    QScrollBar *sa = a->verticalScrollBar();
    QScrollBar *sb = b->verticalScrollBar();
    QObject::connect(sa, &QScrollBar::valueChanged, sb, &QScrollBar::setValue, Qt::UniqueConnection);
    QObject::connect(sb, &QScrollBar::valueChanged, sa, &QScrollBar::setValue, Qt::UniqueConnection);
}

}  // namespace vl
