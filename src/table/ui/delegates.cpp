#include "delegates.h"

#include "table/core/aliases.h"
#include "table/core/notenames.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruletext.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QPersistentModelIndex>
#include <array>

namespace vl {

namespace {

const char *const kIndexProperty = "index";

QStringList numbers(int first, int last, const QString &head = QString())
{
    QStringList items;
    if (!head.isEmpty())
        items.append(head);
    for (int n = first; n <= last; ++n)
        items.append(QString::number(n));
    return items;
}

// The labels of a controller editor: plain numbers for "CC", named notes under each naming.
const QStringList &controllerLabels(bool cc, int cnum)
{
    static const QStringList plain = numbers(0, 127);
    static const std::array<QStringList, 3> named = [] {
        std::array<QStringList, 3> lists;
        for (int c = NoteNames::kFirstNaming; c <= NoteNames::kLastNaming; ++c)
            for (int n = 0; n <= 127; ++n)
                lists[c - 1].append(noteText(n, c));
        return lists;
    }();
    if (cc || cnum < NoteNames::kFirstNaming || cnum > NoteNames::kLastNaming)
        return plain;
    return named[cnum - 1];
}

// Writes through the rule table's own operations when it is one.
void writeCell(QAbstractItemModel *model, const QModelIndex &index, const QString &text)
{
    if (auto *table = qobject_cast<TextTableModel *>(model))
        table->setText(index.row(), index.column(), text);
    else
        model->setData(index, text, Qt::EditRole);
}

// The digits a text starts with, or -1.
int leadingNumber(const QString &text)
{
    if (text.isEmpty() || text.at(0) < QLatin1Char('0') || text.at(0) > QLatin1Char('9'))
        return -1;
    return firstNumberIn(text, -1);
}

int matchingItem(const QComboBox *combo, const QString &text)
{
    if (text.isEmpty())
        return 0;
    const int exact = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (exact >= 0)
        return exact;
    const int n = leadingNumber(text);
    if (n >= 0)
        for (int i = 0; i < combo->count(); ++i)
            if (leadingNumber(combo->itemText(i)) == n)
                return i;
    return 0;
}

void drawCentredText(QPainter *painter, const QRect &rect, const QString &text)
{
    painter->setPen(Qt::white);
    painter->drawText(rect, Qt::AlignCenter, text);
}

QColor rowFill(int row) { return row % 2 ? QColor(79, 79, 79) : QColor(181, 181, 181); }

}  // namespace

QModelIndex editorIndex(const QObject *editor)
{
    if (!editor)
        return {};
    const QVariant v = editor->property(kIndexProperty);
    if (v.userType() == qMetaTypeId<QPersistentModelIndex>())
        return v.value<QPersistentModelIndex>();
    return v.value<QModelIndex>();
}

CombinedDelegate::CombinedDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

const QStringList &CombinedDelegate::editorItems(int column)
{
    static const QStringList none;
    static const QStringList dmx = numbers(1, kDmxChannels);
    static const QStringList status = {QStringLiteral("Note"), QStringLiteral("AT"), QStringLiteral("CC")};
    static const QStringList channel = numbers(1, 16, QStringLiteral("ALL"));
    static const QStringList fixed = numbers(1, 255, QStringLiteral("OFF"));
    static const QStringList fade = numbers(1, 50, QStringLiteral("OFF"));
    static const QStringList onOff = {QStringLiteral("ON"), QStringLiteral("OFF")};
    switch (column) {
    case ColDmx: return dmx;
    case ColSta: return status;
    case ColCtl: return controllerLabels(true, 0);
    case ColCh: return channel;
    case ColFix: return fixed;
    case ColFadeIn:
    case ColFadeOut: return fade;
    case ColToggle:
    case ColEnable: return onOff;
    default: return none;
    }
}

QWidget *CombinedDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    const QStringList &items = editorItems(index.column());
    QWidget *editor = nullptr;
    if (items.isEmpty()) {
        editor = new QLineEdit(parent);
    } else {
        auto *combo = new QComboBox(parent);
        combo->setEditable(false);
        combo->addItems(items);
        auto *self = const_cast<CombinedDelegate *>(this);
        connect(combo, QOverload<int>::of(&QComboBox::activated), self, &CombinedDelegate::fillEmptyRowDefaults);
        if (index.column() == ColSta)
            connect(combo, &QComboBox::currentTextChanged, self, &CombinedDelegate::convertControllerForStatus);
        editor = combo;
    }
    editor->setProperty(kIndexProperty, QVariant::fromValue(QPersistentModelIndex(index)));
    m_openEditors.append(editor);
    return editor;
}

void CombinedDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *combo = qobject_cast<QComboBox *>(editor);
    if (!combo) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    combo->setCurrentIndex(matchingItem(combo, index.data(Qt::EditRole).toString()));
}

void CombinedDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    if (auto *combo = qobject_cast<QComboBox *>(editor)) {
        writeCell(model, index, combo->currentText());
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

void CombinedDelegate::destroyEditor(QWidget *editor, const QModelIndex &index) const
{
    m_openEditors.removeAll(editor);
    QStyledItemDelegate::destroyEditor(editor, index);
}

QList<QComboBox *> CombinedDelegate::openComboEditors(int column) const
{
    QList<QComboBox *> list;
    m_openEditors.removeAll(QPointer<QWidget>());
    for (const QPointer<QWidget> &editor : qAsConst(m_openEditors)) {
        auto *combo = qobject_cast<QComboBox *>(editor.data());
        if (combo && editorIndex(combo).column() == column)
            list.append(combo);
    }
    return list;
}

int CombinedDelegate::relabelControllerEditors()
{
    if (m_openEditors.isEmpty())
        return 0;
    int written = 0;
    for (QComboBox *combo : openComboEditors(ColCtl)) {
        const QModelIndex index = editorIndex(combo);
        const QString status = index.sibling(index.row(), ColSta).data(Qt::EditRole).toString();
        const QStringList &labels = controllerLabels(status == QLatin1String("CC"), m_cnum);
        const int count = std::min(combo->count(), int(labels.size()));
        for (int k = 0; k < count; ++k) {
            if (combo->itemText(k) != labels.at(k)) {
                combo->setItemText(k, labels.at(k));
                ++written;
            }
        }
    }
    return written;
}

void CombinedDelegate::relabelDmxEditors(const QStringList &aliases)
{
    const QList<QComboBox *> editors = openComboEditors(ColDmx);
    if (editors.isEmpty())
        return;
    const QStringList labels = dmxEditorLabels(aliases);
    for (QComboBox *editor : editors) {
        const int current = editor->currentIndex();
        if (editor->count() != labels.size()) {
            editor->clear();
            editor->addItems(labels);
        } else {
            // Same items, new labels: only the labels that differ are written.
            for (int i = 0; i < labels.size(); ++i)
                if (editor->itemText(i) != labels.at(i))
                    editor->setItemText(i, labels.at(i));
        }
        if (current >= 0 && current < editor->count())
            editor->setCurrentIndex(current);
    }
}

void CombinedDelegate::fillEmptyRowDefaults()
{
    const QModelIndex index = editorIndex(sender());
    if (!index.isValid())
        return;
    auto *rules = qobject_cast<RuleModel *>(const_cast<QAbstractItemModel *>(index.model()));
    if (!rules)
        return;
    const int r = index.row();
    const int c = index.column();
    if (!rules->isRuleRowEmpty(r))
        return;
    for (int i = ColDmx; i <= ColEnable; ++i) {
        if (i == c)
            continue;
        QString t = r > 0 ? rules->text(r - 1, i) : QString();
        if (t.isEmpty()) {
            switch (i) {
            case ColDmx: t = QStringLiteral("1"); break;
            case ColSta: t = QStringLiteral("Note"); break;
            case ColCtl: t = m_lastStatus == QLatin1String("CC") ? QStringLiteral("0") : noteText(0, m_cnum); break;
            case ColCh: t = QStringLiteral("ALL"); break;
            case ColEnable: t = QStringLiteral("ON"); break;
            default: t = QStringLiteral("OFF"); break;
            }
        }
        rules->setText(r, i, t);
    }
}

void CombinedDelegate::convertControllerForStatus(const QString &text)
{
    m_lastStatus = text;
    const QModelIndex index = editorIndex(sender());
    if (!index.isValid() || index.column() != ColSta)
        return;
    auto *rules = qobject_cast<RuleModel *>(const_cast<QAbstractItemModel *>(index.model()));
    if (!rules)
        return;
    const int r = index.row();
    const QString k = rules->text(r, ColCtl);
    if (k.isEmpty())
        return;
    const bool cc = text == QLatin1String("CC");
    if (k.size() <= 4) {
        if (!cc)
            rules->setText(r, ColCtl, k + noteSeparator() + NoteNames::name(k.toInt(), m_cnum));
        return;
    }
    if (!cc)
        return;
    const QStringList parts = k.split(noteSeparator(), Qt::SkipEmptyParts);
    const int n = parts.size() >= 2 ? parts.first().toInt() : 0;
    // A number without a note name is no controller: the cell is emptied rather than given
    // a number the box cannot hold.
    const int number = NoteNames::number(NoteNames::name(n, m_cnum), m_cnum);
    if (number < 0)
        rules->clearCell(r, ColCtl);
    else
        rules->setText(r, ColCtl, QString::number(number));
}

void CombinedDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    painter->save();
    painter->fillRect(option.rect, rowFill(index.row()));
    drawCentredText(painter, option.rect, text);
    if (option.state & QStyle::State_Selected) {
        const QPalette::ColorGroup group = option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        QStyleOptionViewItem panel(option);
        panel.state &= ~QStyle::State_Selected;
        panel.state |= QStyle::State_Enabled;
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
        drawCentredText(painter, option.rect, text);
    }
    painter->restore();
}

void KepItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    painter->fillRect(option.rect, selected ? QColor(202, 244, 27, 76) : rowFill(index.row()));
    drawCentredText(painter, option.rect, index.data(Qt::DisplayRole).toString());
    painter->restore();
}

}  // namespace vl
