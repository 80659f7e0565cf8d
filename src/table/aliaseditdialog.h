#pragma once

// The dialog in which the user names the 1024 DMX channels. It also holds the alias list
// the rest of the editor uses.

#include <QDialog>
#include <QStringList>

class QPushButton;
class QStandardItemModel;
class QTableView;

namespace vl {

class AliasEditDialog : public QDialog {
    Q_OBJECT
public:
    explicit AliasEditDialog(QWidget *parent = nullptr);

    // A copy of the alias list.
    QStringList getAliases() const { return m_aliases; }
    // Shows a list in the Alias column: the first 1024 entries, empty cells for the rest.
    // The list itself does not change.
    void setAliases(const QStringList &list);
    // Replaces the list itself (a file was loaded, or a read from the box starts).
    void setAliasList(const QStringList &list) { m_aliases = list; }

    QTableView *table() const { return m_table; }
    QPushButton *okButton() const { return m_ok; }

public slots:
    // The list becomes the 1024 Alias cells, and the dialog is accepted.
    void onOkClicked();

private:
    QStringList m_aliases;
    QStandardItemModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QPushButton *m_ok = nullptr;
};

}  // namespace vl
