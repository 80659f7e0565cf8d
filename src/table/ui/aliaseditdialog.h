#pragma once

// The dialog in which the user names the 1024 DMX channels. It edits the alias list of an
// AliasStore: its cells show what setAliases() gave them, and "OK" stores them.

#include <QDialog>
#include <QStringList>

class QPushButton;
class QStandardItemModel;
class QTableView;

namespace vl {

class AliasStore;

class AliasEditDialog : public QDialog {
    Q_OBJECT
public:
    // `store` must outlive the dialog.
    explicit AliasEditDialog(AliasStore *store, QWidget *parent = nullptr);

    AliasStore *store() const { return m_store; }
    // A copy of the stored alias list.
    QStringList getAliases() const;
    // Shows a list in the Alias column: the first 1024 entries, empty cells for the rest.
    // The stored list does not change.
    void setAliases(const QStringList &list);

    QTableView *table() const { return m_table; }
    QPushButton *okButton() const { return m_ok; }

public slots:
    // The stored list becomes the 1024 Alias cells, and the dialog is accepted.
    void onOkClicked();

private:
    AliasStore *m_store;
    QStandardItemModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QPushButton *m_ok = nullptr;
};

}  // namespace vl
