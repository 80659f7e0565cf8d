#include "dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QPixmap>

namespace vl {

DialogSeam::~DialogSeam() = default;

namespace {

class QtDialogs final : public DialogSeam {
public:
    QMessageBox::StandardButton message(const MessageRequest &r) override
    {
        QMessageBox box(r.parent);
        box.setWindowTitle(r.title);
        box.setText(r.text);
        box.setStandardButtons(r.buttons);
        if (r.defaultButton != QMessageBox::NoButton)
            box.setDefaultButton(r.defaultButton);
        switch (r.kind) {
        case MessageKind::Information: box.setIcon(QMessageBox::Information); break;
        case MessageKind::Warning: box.setIcon(QMessageBox::Warning); break;
        case MessageKind::Critical: box.setIcon(QMessageBox::Critical); break;
        case MessageKind::Question: box.setIcon(QMessageBox::Question); break;
        case MessageKind::NoIcon: break;
        }
        if (!r.iconPixmap.isEmpty())
            box.setIconPixmap(QPixmap(r.iconPixmap));
        const int answer = box.exec();
        // Closing the box with the title bar gives the escape button, or nothing.
        return static_cast<QMessageBox::StandardButton>(answer == -1 ? QMessageBox::NoButton : answer);
    }

    QString fileName(const FileRequest &r) override
    {
        if (r.mode == FileMode::Open)
            return QFileDialog::getOpenFileName(r.parent, r.caption, r.directory, r.filter);
        return QFileDialog::getSaveFileName(r.parent, r.caption, r.directory, r.filter);
    }

    InputAnswer inputText(const InputRequest &r) override
    {
        Qt::WindowFlags flags;
        if (r.noContextHelp)
            flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
        InputAnswer answer;
        answer.text = QInputDialog::getText(r.parent, r.title, r.label, QLineEdit::Normal, r.text, &answer.accepted,
                                            flags);
        return answer;
    }

    int runDialog(QDialog *dialog) override { return dialog->exec(); }
};

QtDialogs &qtDialogs()
{
    static QtDialogs instance;
    return instance;
}

DialogSeam *installed = nullptr;

QMessageBox::StandardButton ask(MessageKind kind, QWidget *parent, const QString &title, const QString &text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton)
{
    MessageRequest r;
    r.kind = kind;
    r.parent = parent;
    r.title = title;
    r.text = text;
    r.buttons = buttons;
    r.defaultButton = defaultButton;
    return dialogs().message(r);
}

}  // namespace

DialogSeam &dialogs() { return installed ? *installed : static_cast<DialogSeam &>(qtDialogs()); }

void installDialogs(DialogSeam *seam) { installed = seam; }

QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons)
{
    return ask(MessageKind::Information, parent, title, text, buttons);
}

QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons)
{
    return ask(MessageKind::Warning, parent, title, text, buttons);
}

QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons)
{
    return ask(MessageKind::Critical, parent, title, text, buttons);
}

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return ask(MessageKind::Question, parent, title, text, buttons, defaultButton);
}

QString getOpenFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    return dialogs().fileName({FileMode::Open, parent, caption, directory, filter});
}

QString getSaveFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    return dialogs().fileName({FileMode::Save, parent, caption, directory, filter});
}

}  // namespace vl
