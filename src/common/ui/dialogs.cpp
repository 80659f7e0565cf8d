#include "dialogs.h"

#include "common/core/safefile.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>

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
        box.setTextFormat(r.textFormat);
        scrollTallText(box);
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

private:
    // A message box grows with its text; one taller than half the screen gets its text in
    // a scrolling area, so that its buttons stay on the screen.
    static void scrollTallText(QMessageBox &box)
    {
        auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        auto *grid = qobject_cast<QGridLayout *>(box.layout());
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (!label || !grid || !screen)
            return;
        const int room = screen->availableGeometry().height() / 2;
        const int width = qMin(600, screen->availableGeometry().width() / 2);
        if (label->heightForWidth(width) <= room)
            return;
        int row = 0, column = 0, rows = 1, columns = 1;
        grid->getItemPosition(grid->indexOf(label), &row, &column, &rows, &columns);
        auto *scroll = new QScrollArea(&box);
        scroll->setObjectName(QStringLiteral("textArea"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        grid->removeWidget(label);
        scroll->setWidget(label);
        scroll->setMinimumSize(width + 24, room);
        grid->addWidget(scroll, row, column, rows, columns);
    }
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

QString getOpenRegularFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    for (QString start = directory;;) {
        const QString path = getOpenFileName(parent, caption, start, filter);
        FileProblem problem;
        if (path.isEmpty() || isRegularFile(path, &problem))
            return path;
        warning(parent, QStringLiteral("Warning"),
                QStringLiteral("%1 cannot be opened: %2.").arg(QDir::toNativeSeparators(path), problem.reason));
        start = QFileInfo(path).absolutePath();
    }
}

}  // namespace vl
