#include "fixturedetailsdialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QTableView>
#include <QVBoxLayout>

namespace vl {

// ---- ProgressBarDelegate ----

int ProgressBarDelegate::cellValue(const QString &text)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    const QString number = colon < 0 ? text : text.mid(colon + 1);
    bool ok = false;
    const int value = number.trimmed().toInt(&ok);
    return ok ? value : 0;
}

QRect ProgressBarDelegate::barRect(const QRect &cell, int value)
{
    const int level = qBound(0, value, 255);
    const int width = int(cell.width() * (level / 255.0));
    return QRect(cell.left(), cell.top(), width, cell.height());
}

void ProgressBarDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect bar = barRect(option.rect, cellValue(text));
    painter->save();
    if (bar.width() > 0) {
        painter->setBrush(QColor(50, 205, 50, 255));
        painter->drawRect(bar);
    }
    painter->setPen(Qt::black);
    painter->drawText(option.rect, Qt::AlignCenter, text);
    painter->restore();
}

// ---- FixtureDetailsDialog ----

FixtureDetailsDialog::FixtureDetailsDialog(FixtureDetailsModel *model, QWidget *parent)
    : QDialog(parent), m_model(model ? model : new FixtureDetailsModel(this)), m_label(new QLabel(this)),
      m_view(new QTableView(this))
{
    setWindowTitle(QStringLiteral("Dialog"));
    resize(341, 414);
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    setSizeGripEnabled(true);
    setStyleSheet(QStringLiteral("background-color: #e6e6e6; border: 1px solid #cccccc; color: #333333;"));
    // The panel lives on the stage, where it is placed; a dialog shown without a position
    // of its own would move itself to the middle of the screen.
    setAttribute(Qt::WA_Moved);

    m_label->setObjectName(QStringLiteral("fixtureNameLabel"));
    m_label->setText(m_model->labelText());
    m_view->setObjectName(QStringLiteral("detailsTableView"));
    m_view->setStyleSheet(QStringLiteral("color: rgb(0, 0, 0);"));
    m_view->setModel(m_model);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setItemDelegateForColumn(FixtureDetailsModel::ValueColumn, new ProgressBarDelegate(m_view));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_view);

    connect(m_model, &FixtureDetailsModel::labelTextChanged, m_label, &QLabel::setText);
}

void FixtureDetailsDialog::showFixtureName(const QString &name) { m_model->showFixtureName(name); }

QString FixtureDetailsDialog::displayedFixtureName() const { return m_model->displayedFixtureName(); }

void FixtureDetailsDialog::setChannels(const QList<FixtureChannel> &channels) { m_model->setChannels(channels); }

void FixtureDetailsDialog::clearDetails() { m_model->clearDetails(); }

}  // namespace vl
