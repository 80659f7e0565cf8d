#pragma once

// A dialog seam for tests: records every question the program asks and answers it from a
// script, so nothing ever waits for a person.

#include "common/ui/dialogs.h"

#include <QList>
#include <QStringList>
#include <functional>

namespace vl::test {

struct Asked {
    enum Kind { Message, File, Input, Dialog } kind = Message;
    MessageRequest message;  // for Message
    FileRequest file;        // for File
    InputRequest input;      // for Input
    QDialog *dialog = nullptr;

    QString title() const;
    QString text() const;
};

class ScriptedDialogs final : public DialogSeam {
public:
    // Installs itself; the destructor puts Qt's dialogs back.
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    QList<Asked> asked;

    // Answers, used in order; when a queue is empty a message box is closed without a
    // choice (NoButton), a file dialog is cancelled and an input dialog is cancelled.
    QList<QMessageBox::StandardButton> buttons;
    QStringList files;
    QList<InputAnswer> inputs;
    // Runs one of the program's own modal dialogs; by default it is rejected.
    std::function<int(QDialog *)> onDialog;

    // Texts of all message boxes asked so far, in order.
    QStringList messageTexts() const;
    // The last message asked, or an empty request.
    MessageRequest lastMessage() const;
    void clear() { asked.clear(); }

    QMessageBox::StandardButton message(const MessageRequest &request) override;
    QString fileName(const FileRequest &request) override;
    InputAnswer inputText(const InputRequest &request) override;
    int runDialog(QDialog *dialog) override;
};

}  // namespace vl::test
