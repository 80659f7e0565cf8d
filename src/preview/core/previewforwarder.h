#pragma once

// Keeps a light preview in step with the rule table and the remarks, listening to the
// models' own dataChanged signals:
// - every rule cell that changes to a non-empty text is passed on (ruleCellChanged) once
//   the current event has been handled, in the order of the changes;
// - the first change of a burst starts a 200 ms countdown that later changes do not
//   restart; when it runs out the preview reloads once (the four reload steps, then
//   refreshFixtureDmxChannels and refreshDetailsPanel) and then takes the coefficient;
// - a remark that changes to a non-empty text is passed on (ruleRemarkChanged) while remark
//   forwarding is on (the window's "Auto-Updates").
// The countdown is a timer of the scheduler that was current when the forwarder was made,
// so tests step it with a ManualScheduler.

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class QAbstractItemModel;
class QModelIndex;

namespace vl {

class PreviewSink;
class Timer;

class PreviewForwarder : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshDelayMs = 200;

    PreviewForwarder(QAbstractItemModel *rules, QAbstractItemModel *remarks, QObject *parent = nullptr);

    // The preview told about the changes; nullptr: nobody (changes still start the
    // countdown). Not owned.
    void setSink(PreviewSink *sink) { m_sink = sink; }
    PreviewSink *sink() const { return m_sink; }

    // Where the preview's coefficient comes from; without a source it is 0.0.
    void setCoefficientSource(std::function<double()> source) { m_coefficient = std::move(source); }
    double coefficient() const { return m_coefficient ? m_coefficient() : 0.0; }

    // Remark edits reach the preview only while this is on. Rule edits always do.
    void setRemarksForwarded(bool on) { m_remarksForwarded = on; }
    bool remarksForwarded() const { return m_remarksForwarded; }

    // Whether the refresh countdown is running.
    bool refreshPending() const { return m_countdownRunning; }
    Timer *refreshTimer() const { return m_countdown; }

    // The preview reloads its copies of the table: rebuildRuleSnapshots, refreshCcFaders,
    // markNoteKeys, markAtKeys, then setCoefficient. With `show` the preview is also shown
    // maximized after refreshCcFaders, and show() comes last.
    void reload(bool show = false);

public slots:
    // A change of the rule table (its dataChanged): the text of the top-left cell is
    // passed on as the change of the bottom-right cell, as one cell changes at a time.
    void rulesChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    // A change of the remarks (their dataChanged).
    void remarksChanged(const QModelIndex &topLeft);
    // The countdown ran out: one full refresh; the coefficient follows once the current
    // event has been handled.
    void refreshNow();

private:
    struct CellChange {
        int row;
        int column;
        QString text;
    };
    // Every forwarded cell passes here: it is queued and the queue is delivered once the
    // current event has been handled. A preview that wants whole bursts at once (deleting
    // rows near the top of a full table changes over 15 000 cells) can take the queue here.
    void queueCell(int row, int column, const QString &text);
    void deliverQueuedCells();

    PreviewSink *m_sink = nullptr;
    std::function<double()> m_coefficient;
    bool m_remarksForwarded = true;
    Timer *m_countdown = nullptr;
    bool m_countdownRunning = false;
    QVector<CellChange> m_queued;
    bool m_deliveryPosted = false;
};

}  // namespace vl
