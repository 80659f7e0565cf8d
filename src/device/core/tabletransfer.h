#pragma once

// Read and Set, each as one transaction between the box and the editor's tables.
//
//   Read  startRead() keeps the rule table, the remarks and the DMX channel aliases,
//         empties them and asks the box for its table. The box's upload reaches
//         applyUploadedRows() (its owner connects BoxConversation::tableUploaded there).
//         The rows go in through queued calls, so that a message box shown on ended()
//         sees the table filling behind it; rowsLoaded() follows once all are in. A Read
//         that fails (the box goes away, falls silent, or sends a table that is not whole)
//         gives the table, the remarks and the aliases back as they were. Everything from
//         startRead() until the table has arrived is one step of the edit history, and a
//         Read that gave everything back leaves none.
//   Set   startSet() writes an image checkForSet() built and waits for the box's
//         "download success".
//
// Every began() is followed by exactly one ended() or failed(); progress() says in between
// how many bytes of the image have passed. Read asked for again while one waits continues
// that Read (it gives back what the first one emptied). abandon() ends either without a
// word when the link is closed by the user; rows still queued stay out. Every way a Read
// fails passes giveBack() and fail(), so a Cancel is one more reason for them.
//
// The box also sends its table unasked, after every settings command. Such an upload fills
// an empty table as a Read's would (reported by ended() or failed(), without began()) and
// is ignored when the table has rows, so that it never piles onto the user's rules.
//
// Nothing here needs a widget: the window asks the questions and shows the messages.

#include <QByteArrayList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

namespace vl {

class AliasKeeper;
class BoxConversation;
class EditSteps;
class RemarkModel;
class RuleModel;

enum class TransferKind { Read, Set };

struct TransferFailure {
    enum Reason {
        LineLost,        // the device went away
        NoAnswer,        // the box said nothing for the answer timeout
        StoppedSending,  // the box had begun to answer, then was quiet for the answer timeout
        Incomplete,      // the upload was not a whole table
        WriteFailed,     // the request or the image could not be written
        Abandoned,       // abandon(): the user closed the link
    };
    TransferKind kind = TransferKind::Read;
    Reason reason = Abandoned;
    bool tableGivenBack = false;  // a Read gave the table back as it was
    int silenceMs = 0;            // NoAnswer, StoppedSending: how long the line was quiet

    // What the window says of it; empty for what it says nothing about (a failed write,
    // an abandoned transfer).
    QString message() const;
};

class TableTransfer : public QObject {
    Q_OBJECT
public:
    // Works over `box` on `rules` and `remarks` (all must outlive the transfer). `aliases`,
    // when given, is emptied by Read and saved and shown on the DMX cells after it.
    TableTransfer(BoxConversation &box, RuleModel &rules, RemarkModel &remarks, AliasKeeper *aliases = nullptr,
                  QObject *parent = nullptr);
    ~TableTransfer() override;

    // The edit history that Read's step goes into; may be null.
    void setSteps(EditSteps *steps) { m_steps = steps; }

    // Starts (or continues) a Read. False when the request could not be written; the
    // table is as it was then.
    bool startRead();
    // Writes `image` and waits for the box to confirm it. False when the write failed.
    bool startSet(const QByteArray &image);
    // The user closes the link: what is under way ends (failed() with Abandoned) and keeps
    // what it has done; rows still queued from an upload stay out.
    void abandon();

    bool isReading() const { return m_backup != nullptr; }
    bool isSetting() const { return m_setPending; }

    // What the window says after a Read whose upload showed `damage` (see
    // BoxConversation::tableUploaded); its title is "Warning".
    static QString damagedReadText(const QString &damage);

public slots:
    // Middle-C naming for the "Ctl" texts of rows read from now on.
    void setNaming(int cnum) { m_cnum = cnum; }
    // An upload from the box (BoxConversation::tableUploaded).
    void applyUploadedRows(const QByteArrayList &records, const QString &damage = QString());
    // Inserts row `row` decoded from one 8-byte record, through a queued call.
    void decodeRuleRecord(int row, const QByteArray &record);

signals:
    void began(vl::TransferKind kind);
    void progress(vl::TransferKind kind, qint64 bytes, qint64 total);
    // Read: the rows are queued, `damage` is what showed the upload damaged (empty when
    // nothing did). Set: the box confirmed the image.
    void ended(vl::TransferKind kind, const QString &damage);
    void failed(const vl::TransferFailure &failure);
    // Every row of a Read is in the table.
    void rowsLoaded();

private:
    struct Backup;
    void lineLost();
    void answerOverdue();
    void imageAccepted();
    void fail(TransferKind kind, TransferFailure::Reason reason, bool givenBack = false);
    bool giveBack();
    void endReadStep(bool clean);
    void insertRowLater(int row, const QStringList &texts);

    BoxConversation &m_box;
    RuleModel &m_rules;
    RemarkModel &m_remarks;
    AliasKeeper *m_aliases;
    EditSteps *m_steps = nullptr;
    int m_cnum = 2;
    std::unique_ptr<Backup> m_backup;  // what the Read under way emptied
    bool m_readStep = false;           // Read's step is open until its rows are in
    bool m_setPending = false;         // Set waits for "download success"
    qint64 m_bytes = 0;                // of the image, since began()
    qint64 m_setTotal = 0;
    int m_generation = 0;   // counts every emptying of the table; rows queued before stay out
    int m_rowsPending = 0;  // decoded rows queued for insertion
};

}  // namespace vl

Q_DECLARE_METATYPE(vl::TransferKind)
Q_DECLARE_METATYPE(vl::TransferFailure)
