// The editor window's side of the DMX channel aliases: the alias dialog and the labels of
// open DMX editors. The list, its file and the DMX cells are AliasKeeper's.

#include "widget.h"

#include "common/ui/dialogs.h"
#include "table/core/aliaskeeper.h"
#include "table/core/aliasstore.h"
#include "table/core/rulecolumns.h"
#include "table/ui/aliaseditdialog.h"
#include "table/ui/delegates.h"
#include "table/ui/edithistory.h"

#include <QComboBox>
#include <QEvent>

namespace vl {

namespace {

const char *const kConnectedProperty = "connected";

}  // namespace

AliasStore *Widget::aliasStore() const { return m_aliases->store(); }

Timer *Widget::aliasLabelTimer() const { return m_aliases->labelTimer(); }

void Widget::changmarkname()
{
    // The dialog opens on the stored list, whatever was typed in an earlier, cancelled visit.
    m_aliasDialog->setAliases(aliasStore()->aliases());
    {
        const EditHistory::Step step(m_history, QStringLiteral("Edit Aliases"));
        if (dialogs().runDialog(m_aliasDialog) == QDialog::Accepted)
            m_aliases->save();
    }
    m_aliases->wakeLabels();
    m_aliases->relabelCells();
}

void Widget::updateAliases()
{
    const QList<QComboBox *> editors = ui.delegate->openComboEditors(ColDmx);
    if (aliasStore()->aliases().isEmpty() || editors.isEmpty())
        return;
    // Labelled editors need no more ticks, until one loses the focus or another opens.
    aliasLabelTimer()->stop();
    for (QComboBox *editor : editors) {
        if (!editor->property(kConnectedProperty).toBool()) {
            connect(editor, QOverload<int>::of(&QComboBox::activated), aliasLabelTimer(), &Timer::stop);
            editor->installEventFilter(this);
            editor->setProperty(kConnectedProperty, true);
        }
    }
    ui.delegate->relabelDmxEditors(aliasStore()->aliases());
}

bool Widget::eventFilter(QObject *watched, QEvent *event)
{
    // The DMX editor lost the focus: the next one that opens is labelled again.
    if (event->type() == QEvent::FocusOut && qobject_cast<QComboBox *>(watched))
        m_aliases->wakeLabels();
    return QWidget::eventFilter(watched, event);
}

}  // namespace vl
