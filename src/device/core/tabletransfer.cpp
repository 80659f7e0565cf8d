#include "tabletransfer.h"

#include "boxconversation.h"
#include "tableimage.h"

#include "table/core/aliaskeeper.h"
#include "table/core/aliasstore.h"
#include "table/core/editsteps.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"

#include <QSerialPort>

namespace vl {

namespace {

QString givenBackText() { return QStringLiteral("The table is as it was before Read."); }

QString mayNotHaveStored()
{
    return QStringLiteral("The device may not have stored the table. Connect again and Set once more.");
}

}  // namespace

QString TransferFailure::message() const
{
    const bool read = kind == TransferKind::Read;
    const QString seconds = QString::number(silenceMs / 1000.0);
    switch (reason) {
    case LineLost:
        return read ? QStringLiteral("The device went away while the configuration was being read. ") + givenBackText()
                    : QStringLiteral("The device went away before it confirmed the configuration. ")
                          + mayNotHaveStored();
    case NoAnswer:
    case StoppedSending: {
        const QString silence = reason == StoppedSending
                                    ? QStringLiteral("The device stopped sending for %1 s").arg(seconds)
                                    : QStringLiteral("The device did not answer within %1 s").arg(seconds);
        return read ? silence + QStringLiteral(" while the configuration was being read. ") + givenBackText()
                    : silence + QStringLiteral(" after the configuration was sent; it did not confirm it. ")
                          + mayNotHaveStored();
    }
    case Incomplete:
        return QStringLiteral("The configuration read from the device was incomplete. No rules were loaded.")
               + (tableGivenBack ? QLatin1Char(' ') + givenBackText() : QString());
    case WriteFailed:
    case Abandoned: break;
    }
    return QString();
}

QString TableTransfer::damagedReadText(const QString &damage)
{
    return QStringLiteral("The configuration read from the device is damaged: %1.\n\nThe rules were loaded as the "
                          "device sent them. Check them before you Set them again.")
        .arg(damage);
}

// What Read emptied, as texts, kept until its table has arrived.
struct TableTransfer::Backup {
    QList<QStringList> rows;
    QVector<bool> snLocked;
    QStringList remarks;
    QStringList aliases;
};

TableTransfer::TableTransfer(BoxConversation &box, RuleModel &rules, RemarkModel &remarks, AliasKeeper *aliases,
                             QObject *parent)
    : QObject(parent), m_box(box), m_rules(rules), m_remarks(remarks), m_aliases(aliases)
{
    qRegisterMetaType<vl::TransferKind>();
    qRegisterMetaType<vl::TransferFailure>();
    connect(&box, &BoxConversation::lineLost, this, &TableTransfer::lineLost);
    connect(&box, &BoxConversation::answerOverdue, this, &TableTransfer::answerOverdue);
    connect(&box, &BoxConversation::imageAccepted, this, &TableTransfer::imageAccepted);
    connect(&box, &BoxConversation::bytesReceived, this, [this](qint64 count) {
        if (isReading()) {
            m_bytes += count;
            emit progress(TransferKind::Read, qMin(m_bytes, qint64(kImageSize)), kImageSize);
        }
    });
    connect(&box.port(), &QSerialPort::bytesWritten, this, [this](qint64 count) {
        if (m_setTotal > 0) {
            m_bytes += count;
            emit progress(TransferKind::Set, qMin(m_bytes, m_setTotal), m_setTotal);
        }
    });
}

TableTransfer::~TableTransfer() = default;

void TableTransfer::fail(TransferKind kind, TransferFailure::Reason reason, bool givenBack)
{
    if (kind == TransferKind::Set)
        m_setTotal = 0;
    TransferFailure failure;
    failure.kind = kind;
    failure.reason = reason;
    failure.tableGivenBack = givenBack;
    if (reason == TransferFailure::NoAnswer || reason == TransferFailure::StoppedSending)
        failure.silenceMs = m_box.answerTimeout();
    emit failed(failure);
}

// --- Read ---------------------------------------------------------------------------------

bool TableTransfer::startRead()
{
    // What Read empties comes back should the table never arrive whole. A Read asked again
    // while one waits keeps what the first one emptied.
    const bool continuing = isReading();
    if (!continuing) {
        auto backup = std::make_unique<Backup>();
        backup->rows.reserve(m_rules.rowCount());
        for (int r = 0; r < m_rules.rowCount(); ++r) {
            QStringList texts;
            for (int c = 0; c < m_rules.columnCount(); ++c)
                texts << m_rules.text(r, c);
            backup->rows << texts;
            backup->snLocked << m_rules.isSnLocked(r);
        }
        for (int r = 0; r < m_remarks.rowCount(); ++r)
            backup->remarks << m_remarks.text(r, 0);
        if (m_aliases)
            backup->aliases = m_aliases->store()->aliases();
        m_backup = std::move(backup);
    }
    m_bytes = 0;

    // Everything until the table has arrived is one step; it ends once the rows are in, or
    // when the table is given back.
    if (m_steps && !m_readStep)
        m_steps->beginStep(QStringLiteral("Read"));
    m_readStep = true;
    ++m_generation;
    m_rules.removeRows(0, m_rules.rowCount());
    if (!continuing)
        emit began(TransferKind::Read);
    if (!m_box.requestTable()) {
        giveBack();  // nothing was asked: the table stays as it was
        fail(TransferKind::Read, TransferFailure::WriteFailed, true);
        return false;
    }
    m_box.awaitAnswer();
    resetRemarks(m_remarks, kRuleRows);
    if (m_aliases)
        m_aliases->beginRead();
    return true;
}

bool TableTransfer::giveBack()
{
    const std::unique_ptr<Backup> backup = std::move(m_backup);
    if (!backup)
        return false;
    ++m_generation;  // rows still queued from the failed Read stay out
    m_rules.removeRows(0, m_rules.rowCount());
    for (int r = 0; r < backup->rows.size(); ++r)
        m_rules.insertRuleRow(r, backup->rows.at(r), backup->snLocked.at(r));
    for (int r = 0; r < backup->remarks.size() && r < m_remarks.rowCount(); ++r) {
        if (backup->remarks.at(r).isEmpty())
            m_remarks.clearCell(r, 0);
        else
            m_remarks.setText(r, 0, backup->remarks.at(r));
    }
    if (m_aliases)
        m_aliases->restore(backup->aliases);
    // The table is as it was, so the Read leaves no step.
    endReadStep(false);
    return true;
}

void TableTransfer::applyUploadedRows(const QByteArrayList &records, const QString &damage)
{
    // The box also answers the automatic request after every settings command; such an
    // upload must not pile a second table onto the rules the user has.
    if (m_rules.rowCount() > 0 || m_rowsPending > 0)
        return;
    const bool readAnswered = isReading();
    if (readAnswered)
        m_box.stopAwaiting();
    if (!isCompleteUpload(records)) {
        fail(TransferKind::Read, TransferFailure::Incomplete, giveBack());
        return;
    }
    m_backup.reset();
    for (int row = 0; row < kRuleRows; ++row)
        decodeRuleRecord(row, records.at(row));
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation)
                emit rowsLoaded();
        },
        Qt::QueuedConnection);

    emit ended(TransferKind::Read, damage);
    // After the messages, and after the rows are in, since the labels go onto their cells.
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation != m_generation)
                return;  // the table was emptied again, and the step ended, since
            if (m_aliases)
                m_aliases->finishRead();
            endReadStep(true);  // the table is what the box holds
        },
        Qt::QueuedConnection);
}

void TableTransfer::decodeRuleRecord(int row, const QByteArray &record)
{
    if (row >= 0 && row < kRuleRows)
        insertRowLater(row, vl::decodeRuleRecord(record, row, m_cnum));
}

void TableTransfer::insertRowLater(int row, const QStringList &texts)
{
    if (texts.isEmpty())
        return;
    ++m_rowsPending;
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, row, texts, generation] {
            --m_rowsPending;
            if (generation == m_generation)  // else the table was emptied again since
                insertUploadedRow(m_rules, row, texts);
        },
        Qt::QueuedConnection);
}

// --- Set ----------------------------------------------------------------------------------

bool TableTransfer::startSet(const QByteArray &image)
{
    m_bytes = 0;
    m_setTotal = image.size();  // the bytes written count from here
    emit began(TransferKind::Set);
    if (!m_box.sendImage(image)) {
        fail(TransferKind::Set, TransferFailure::WriteFailed);
        return false;
    }
    m_setPending = true;
    m_box.awaitAnswer();
    return true;
}

void TableTransfer::imageAccepted()
{
    if (!m_setPending)
        return;
    m_setPending = false;
    m_box.stopAwaiting();
    m_setTotal = 0;
    emit ended(TransferKind::Set, QString());
}

// --- The box goes away or falls silent, the user closes the link --------------------------

void TableTransfer::lineLost()
{
    if (giveBack()) {
        fail(TransferKind::Read, TransferFailure::LineLost, true);
    } else if (m_setPending) {
        m_setPending = false;
        fail(TransferKind::Set, TransferFailure::LineLost);
    }
}

void TableTransfer::answerOverdue()
{
    const auto silence = m_box.heardSinceAwaiting() ? TransferFailure::StoppedSending : TransferFailure::NoAnswer;
    if (giveBack()) {
        fail(TransferKind::Read, silence, true);
    } else if (m_setPending) {
        m_setPending = false;
        fail(TransferKind::Set, silence);
    }
}

void TableTransfer::endReadStep(bool clean)
{
    if (!m_readStep)
        return;
    m_readStep = false;
    if (!m_steps || !m_steps->stepOpen())
        return;  // someone else ended it (Connect ends whatever is under way)
    m_steps->endStep();
    if (clean)
        m_steps->markClean();
}

void TableTransfer::abandon()
{
    ++m_generation;  // rows still queued stay out
    endReadStep(false);
    if (m_backup) {
        m_backup.reset();
        fail(TransferKind::Read, TransferFailure::Abandoned);
    }
    if (m_setPending) {
        m_setPending = false;
        fail(TransferKind::Set, TransferFailure::Abandoned);
    }
}

}  // namespace vl
