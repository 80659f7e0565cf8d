#include "scripteddialogs.h"

#include <QDialog>

namespace vl::test {

QString Asked::title() const
{
    switch (kind) {
    case Message: return message.title;
    case File: return file.caption;
    case Input: return input.title;
    case Dialog: return dialog ? dialog->windowTitle() : QString();
    }
    return {};
}

QString Asked::text() const
{
    switch (kind) {
    case Message: return message.text;
    case Input: return input.label;
    default: return {};
    }
}

ScriptedDialogs::ScriptedDialogs() { installDialogs(this); }

ScriptedDialogs::~ScriptedDialogs()
{
    if (&dialogs() == this)  // a newer script may have taken over already
        installDialogs(nullptr);
}

QStringList ScriptedDialogs::messageTexts() const
{
    QStringList texts;
    for (const Asked &a : asked)
        if (a.kind == Asked::Message)
            texts << a.message.text;
    return texts;
}

MessageRequest ScriptedDialogs::lastMessage() const
{
    for (int i = asked.size() - 1; i >= 0; --i)
        if (asked[i].kind == Asked::Message)
            return asked[i].message;
    return {};
}

QMessageBox::StandardButton ScriptedDialogs::message(const MessageRequest &request)
{
    Asked a;
    a.kind = Asked::Message;
    a.message = request;
    asked << a;
    return buttons.isEmpty() ? QMessageBox::NoButton : buttons.takeFirst();
}

QString ScriptedDialogs::fileName(const FileRequest &request)
{
    Asked a;
    a.kind = Asked::File;
    a.file = request;
    asked << a;
    return files.isEmpty() ? QString() : files.takeFirst();
}

InputAnswer ScriptedDialogs::inputText(const InputRequest &request)
{
    Asked a;
    a.kind = Asked::Input;
    a.input = request;
    asked << a;
    return inputs.isEmpty() ? InputAnswer{} : inputs.takeFirst();
}

int ScriptedDialogs::runDialog(QDialog *dialog)
{
    Asked a;
    a.kind = Asked::Dialog;
    a.dialog = dialog;
    asked << a;
    return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
}

}  // namespace vl::test
