#pragma once

// What the command-line tool's tests share: the sample rule table (ruletables.h),
// workbooks saved the way the editor saves them, files as bytes (filebytes.h), running
// varilume-cli in-process or as the real program, and a simulated box process.

#include "boxprocess.h"
#include "cli/commands.h"
#include "filebytes.h"
#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "ruletables.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

namespace vl::test {

// The rows a workbook of `m` holds: the editor's Save keeps only the number of "Ctl".
inline QList<QStringList> workbookTexts(const RuleModel &m)
{
    QList<QStringList> rows = tableTexts(m);
    for (QStringList &row : rows)
        row[ColCtl] = row[ColCtl].section('/', 0, 0).trimmed();
    return rows;
}

// The workbook the editor's Save writes for `m` (empty remarks).
inline bool saveWorkbook(const RuleModel &m, const QString &path)
{
    RemarkModel remarks;
    xlsx::Document doc;
    fillRuleWorkbook(doc, m, remarks);
    return doc.saveAs(path);
}

struct CliResult {
    int status = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;
    // A failure says so in exactly one line.
    bool oneErrorLine() const { return err.endsWith('\n') && err.count('\n') == 1; }
};

// Runs a command line inside the test.
inline CliResult runInProcess(const QStringList &args)
{
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    CliResult result;
    QElapsedTimer t;
    t.start();
    result.status = cli::run(QStringList{"varilume-cli"} + args, out, err);
    result.ms = t.elapsed();
    result.out = out.data();
    result.err = err.data();
    return result;
}

// Runs the real program without a display: no DISPLAY, no WAYLAND_DISPLAY, no
// QT_QPA_PLATFORM. `announceDir` is where it looks for simulated boxes.
inline CliResult runProgram(const QString &program, const QStringList &args, const QString &announceDir,
                            int limitMs = 60000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    env.insert("VARILUME_SIMBOX_DIR", announceDir);
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    CliResult result;
    if (!p.waitForFinished(limitMs)) {
        p.kill();
        p.waitForFinished(5000);
        result.err = "the program did not finish";
        return result;
    }
    result.ms = t.elapsed();
    result.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    result.out = p.readAllStandardOutput();
    result.err = p.readAllStandardError();
    return result;
}

}  // namespace vl::test
