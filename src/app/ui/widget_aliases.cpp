// The editor window's side of the DMX channel aliases: the alias file, the alias dialog,
// the labels of DMX cells and of open DMX editors.

#include "widget.h"

#include "common/ui/dialogs.h"
#include "common/core/scheduler.h"
#include "table/ui/aliaseditdialog.h"
#include "table/core/aliases.h"
#include "table/core/aliasstore.h"
#include "table/ui/delegates.h"
#include "table/ui/edithistory.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/tableviews.h"

#include <QComboBox>
#include <QEvent>

namespace vl {

namespace {

const char *const kConnectedProperty = "connected";

void fileError(const QString &text) { critical(nullptr, QStringLiteral("Error"), text); }

}  // namespace

void Widget::loadAliasFile()
{
    const AliasFileResult read = readAliasFile(aliasFilePath());
    switch (read.status) {
    case AliasFileResult::CannotCreate: fileError(QStringLiteral("Cannot create file for writing.")); return;
    case AliasFileResult::CannotRead: fileError(QStringLiteral("Cannot open file for reading.")); return;
    case AliasFileResult::Loaded: break;
    }
    m_aliasStore->setAliases(read.aliases);
    if (!read.aliases.isEmpty())
        m_aliasDialog->setAliases(read.aliases);
    m_aliasTimer->start(kAliasTimerMs);
    m_tableView->setAliasSource(m_aliasStore);
}

bool Widget::writeAliasList()
{
    if (writeAliasFile(aliasFilePath(), m_aliasStore->aliases()))
        return true;
    fileError(QStringLiteral("Cannot open file for writing."));
    return false;
}

void Widget::saveAliasFile()
{
    m_aliasDialog->setAliases(m_aliasStore->aliases());
    writeAliasList();
}

void Widget::changmarkname()
{
    // The dialog opens on the stored list, whatever was typed in an earlier, cancelled visit.
    m_aliasDialog->setAliases(m_aliasStore->aliases());
    {
        const EditHistory::Step step(m_history, QStringLiteral("Edit Aliases"));
        if (dialogs().runDialog(m_aliasDialog) == QDialog::Accepted)
            writeAliasList();
    }
    m_aliasTimer->start(kAliasTimerMs);
    relabelDmxCells();
}

void Widget::relabelDmxCells()
{
    // The labels follow the aliases; they are no step of their own.
    const EditHistory::Automatic automatic(m_history);
    vl::relabelDmxCells(*m_rules, m_aliasStore->aliases());
}

void Widget::prepareAliasesForRead()
{
    m_aliasTimer->stop();
    m_aliasStore->clear();
}

void Widget::finishAliasesAfterRead()
{
    saveAliasFile();
    m_aliasTimer->start(kAliasTimerMs);
    relabelDmxCells();
}

void Widget::updateAliases()
{
    const QStringList aliases = m_aliasStore->aliases();
    if (aliases.isEmpty())
        return;
    const QList<QComboBox *> editors = m_delegate->openComboEditors(ColDmx);
    if (editors.isEmpty())
        return;
    const QStringList labels = dmxEditorLabels(aliases);
    for (QComboBox *editor : editors) {
        m_aliasTimer->stop();
        const int current = editor->currentIndex();
        if (!editor->property(kConnectedProperty).toBool()) {
            connect(editor, QOverload<int>::of(&QComboBox::activated), m_aliasTimer, [this] { m_aliasTimer->stop(); });
            editor->installEventFilter(this);
            editor->setProperty(kConnectedProperty, true);
        }
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

bool Widget::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && qobject_cast<QComboBox *>(watched)) {
        // The DMX editor lost the focus: the next one that opens is labelled again.
        m_aliasTimer->start(kAliasTimerMs);
        m_tableView->setAliasSource(m_aliasStore);
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace vl
