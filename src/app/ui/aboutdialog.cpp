#include "aboutdialog.h"

#include "common/core/vendor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vl {

About_Dialog::About_Dialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("About_Dialog"));
    setWindowTitle(QStringLiteral("Help"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(377, 202);

    auto *layout = new QVBoxLayout(this);

    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("label_2"));
    picture->setPixmap(QPixmap(QStringLiteral(":/IMG/label.png")));
    picture->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);

    auto *versionRow = new QHBoxLayout;
    m_version = new QLabel(versionText(), this);
    m_version->setObjectName(QStringLiteral("label"));
    versionRow->addStretch();
    versionRow->addWidget(m_version);
    versionRow->addStretch();
    layout->addLayout(versionRow);

    auto *company = new QLabel(companyName(), this);
    company->setObjectName(QStringLiteral("label_3"));
    QFont font(QStringLiteral("黑体"), 10);
    font.setBold(true);
    company->setFont(font);
    company->setAlignment(Qt::AlignCenter);
    layout->addWidget(company);

    auto *link = new QLabel(this);
    link->setObjectName(QStringLiteral("label_4"));
    link->setText(QStringLiteral("<a href=\"%1\" style=\"color:blue; font-weight:bold;"
                                 " text-decoration:underline;\">%1</a>")
                      .arg(vendorSite()));
    link->setTextFormat(Qt::RichText);
    link->setAlignment(Qt::AlignCenter);
    link->setOpenExternalLinks(true);
    layout->addWidget(link);

    auto *buttonRow = new QHBoxLayout;
    auto *ok = new QPushButton(QStringLiteral("ok"), this);
    ok->setObjectName(QStringLiteral("pushButton"));
    buttonRow->addStretch();
    buttonRow->addWidget(ok);
    layout->addLayout(buttonRow);

    QMetaObject::connectSlotsByName(this);
}

QString About_Dialog::version() const { return m_version->text(); }

void About_Dialog::on_pushButton_clicked() { close(); }

}  // namespace vl
