#pragma once

// The one place through which the editor asks the user something: message boxes,
// questions, file and input dialogs and our own modal dialogs. The program shows Qt's
// dialogs; tests install a scripted implementation that records every request and
// answers it, so no test ever blocks on a modal dialog.

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

namespace vl {

enum class MessageKind { Information, Warning, Critical, Question, NoIcon };

struct MessageRequest {
    MessageKind kind = MessageKind::Information;
    QWidget *parent = nullptr;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QString iconPixmap;  // a picture shown instead of the kind's icon, if set
    // Texts that come from outside (a server's release notes) are shown as the text they
    // are: Qt::PlainText. A text taller than the screen leaves room for scrolls.
    Qt::TextFormat textFormat = Qt::AutoText;
};

enum class FileMode { Open, Save };

struct FileRequest {
    FileMode mode = FileMode::Open;
    QWidget *parent = nullptr;
    QString caption;
    QString directory;  // start directory or proposed file name
    QString filter;
};

struct InputRequest {
    QWidget *parent = nullptr;
    QString title;
    QString label;
    QString text;
    bool noContextHelp = false;  // remove the title bar's "?" button
};

struct InputAnswer {
    bool accepted = false;
    QString text;
};

class DialogSeam {
public:
    virtual ~DialogSeam();
    virtual QMessageBox::StandardButton message(const MessageRequest &request) = 0;
    // An empty string means the dialog was cancelled.
    virtual QString fileName(const FileRequest &request) = 0;
    virtual InputAnswer inputText(const InputRequest &request) = 0;
    // Runs one of the editor's own dialogs modally and returns its result code.
    virtual int runDialog(QDialog *dialog) = 0;
};

// The dialogs currently in use: Qt's unless a test installed its own.
DialogSeam &dialogs();
// Installs a replacement (not owned); nullptr brings Qt's dialogs back.
void installDialogs(DialogSeam *seam);

// Shorthands with the argument order of QMessageBox's static functions.
QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);
QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);
QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons = QMessageBox::Ok);
QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QString getOpenFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter);
QString getSaveFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter);
// As getOpenFileName(), for a file that is read: only a regular file is taken. A folder, a
// FIFO, a device or a socket is refused with a warning before anything opens it, and the
// user is asked again; empty when the user cancels.
QString getOpenRegularFileName(QWidget *parent, const QString &caption, const QString &directory,
                               const QString &filter);

}  // namespace vl
