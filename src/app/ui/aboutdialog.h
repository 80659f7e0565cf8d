#pragma once

#include <QDialog>

class QLabel;

namespace vl {

// The "Help" box: version, picture, maker and a link to the maker's web site.
class About_Dialog : public QDialog {
    Q_OBJECT
public:
    explicit About_Dialog(QWidget *parent = nullptr);

    // The version text shown, "V4.0.1"; the software update check compares against it.
    QString version() const;

public slots:
    void on_pushButton_clicked();

private:
    QLabel *m_version = nullptr;
};

}  // namespace vl
