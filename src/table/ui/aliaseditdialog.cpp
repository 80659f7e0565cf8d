#include "aliaseditdialog.h"

#include "table/core/aliases.h"
#include "table/core/aliasstore.h"
#include "table/core/rulecolumns.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace vl {

namespace {

// Aliases are typed in a line editor that takes no more than an alias may hold.
class AliasCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto *line = qobject_cast<QLineEdit *>(editor))
            line->setMaxLength(kMaxAliasLength);
        return editor;
    }
};

}  // namespace

AliasEditDialog::AliasEditDialog(AliasStore *store, QWidget *parent) : QDialog(parent), m_store(store)
{
    setObjectName(QStringLiteral("AliasEditDialog"));
    setWindowTitle(QStringLiteral("Edit DMX Channels Aliases"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setStyleSheet(QStringLiteral("QWidget { font-family: Arial; font-size: 10pt; }"));
    resize(380, 520);

    m_model = new QStandardItemModel(kDmxChannels, 2, this);
    m_model->setHorizontalHeaderLabels({QStringLiteral("Channel"), QStringLiteral("Alias")});
    for (int i = 0; i < kDmxChannels; ++i) {
        auto *channel = new QStandardItem(QString::number(i + 1));
        channel->setFlags(channel->flags() & ~Qt::ItemIsEditable);
        m_model->setItem(i, 0, channel);
        m_model->setItem(i, 1, new QStandardItem(QString()));
    }

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("aliasTable"));
    m_table->setModel(m_model);
    m_table->setItemDelegateForColumn(1, new AliasCellDelegate(m_table));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(22);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    connect(m_ok, &QPushButton::clicked, this, &AliasEditDialog::onOkClicked);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(m_ok);
}

QStringList AliasEditDialog::getAliases() const { return m_store->aliases(); }

void AliasEditDialog::setAliases(const QStringList &list)
{
    const int shown = std::min(int(list.size()), int(kDmxChannels));
    for (int i = 0; i < kDmxChannels; ++i)
        m_model->item(i, 1)->setText(i < shown ? list.at(i) : QString());
}

void AliasEditDialog::onOkClicked()
{
    QStringList list;
    list.reserve(kDmxChannels);
    for (int i = 0; i < kDmxChannels; ++i)
        list.append(m_model->item(i, 1)->text());
    m_store->setAliases(list);
    accept();
}

}  // namespace vl
