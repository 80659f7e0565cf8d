#pragma once

// The preview engine: what the box would do with the MIDI the preview plays. A key of one
// of the two keyboards or a controller fader sends its message out (MidiSender), is logged
// (MidiMessageLog) and runs through the rules: the matching rules give a target level
// (the value times the coefficient, or a fixed value), the first enabled matching rule
// gives the DMX channel, and the level fades there in 50 ms steps, or toggles, and lands
// on every fixture channel on that DMX channel (GlobalData) and in the details panel.
//
// The window feeds it the user's events and repaints on levelApplied(); fades run on timers
// of the Scheduler it is given (one 50 ms timer per number and event kind), so tests step
// them by hand.
//
// Texts of Fix, Fade In and Fade Out that are not a number ("OFF", empty, anything else),
// and fade steps of 0, mean "OFF": no fixed value, an immediate change.

#include "common/core/scheduler.h"
#include "fixtureregistry.h"
#include "midisender.h"
#include "rulesnapshots.h"
#include "table/core/rulemodel.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <array>

namespace vl {

class FixtureDetailsModel;
class MidiMessageLog;

enum class PreviewKeyboard { Note, Aftertouch };

// The three kinds of event, each with its own levels, toggles and fades per number.
enum class EventKind { Note = 0, Aftertouch = 1, Control = 2 };

class PreviewEngine : public QObject {
    Q_OBJECT
public:
    enum class KeyResult {
        Ignored,           // nothing sent (no mapped key, or not connected while holding)
        Played,            // handled: sent and logged and driven as the case may be
        ConnectionFailed,  // show connectionFailedTitle() / connectionFailedText()
    };

    static constexpr int kFadeIntervalMs = 50;

    explicit PreviewEngine(GlobalData &registry, Scheduler &timers = scheduler(), QObject *parent = nullptr);
    ~PreviewEngine() override;

    static QString connectionFailedTitle() { return QStringLiteral("Connection Failed"); }
    static QString connectionFailedText()
    {
        return QStringLiteral("The device is not connected. Unable to send control change message.");
    }

    // ---- inputs ----
    void setRuleModel(const TextTableModel *rules);  // null is ignored
    void setSnapshots(const RuleSnapshots *snapshots);
    void setDetailsModel(FixtureDetailsModel *details);
    void setMidiSender(MidiSender *sender);
    void setMessageLog(MidiMessageLog *log);

    // The "MIDI Channel" choice, 1 … 16.
    void setMidiChannel(int channel) { m_channel = channel; }
    int midiChannel() const { return m_channel; }
    void setPreviewCoefficient(double coefficient) { m_coefficient = coefficient; }
    double previewCoefficient() const { return m_coefficient; }
    // The fixture clicked last: it records the levels in its bindings.
    void setCurrentFixture(const QString &name);
    void clearCurrentFixture();
    bool hasCurrentFixture() const { return m_hasCurrentFixture; }
    QString currentFixture() const { return m_currentFixture; }

    // ---- hold mode ----
    // The keyboard's "Hold" box. Turning it off forgets which notes were held.
    void setHold(PreviewKeyboard keyboard, bool on);
    bool hold(PreviewKeyboard keyboard) const { return m_hold[index(keyboard)].on; }
    bool isHeld(PreviewKeyboard keyboard, int note) const;

    // ---- the user's events ----
    // A key went down / up. keyMapped: the keyboard's key for the note is marked by a
    // rule. The release of a key whose rule toggles sends and changes nothing (the next
    // press turns the light off); the rule is the one the press drove.
    KeyResult keyPressed(PreviewKeyboard keyboard, int note, int velocity, bool keyMapped);
    KeyResult keyReleased(PreviewKeyboard keyboard, int note, bool keyMapped);
    // Controller fader moved to value (the output panel warns itself when no port is open).
    void faderMoved(int controller, int value);
    // A message from elsewhere (a MIDI file): drives the rules on the message's own
    // channel (1 ... 16) as a key press, key release (value 0) or fader move would, without
    // sending or logging it. Values outside the MIDI ranges are ignored.
    void playMessage(EventKind kind, int channel, int number, int value);

    // ---- the rules ----
    void driveNote(int note, int value) { drive(EventKind::Note, note, value); }
    void driveAftertouch(int note, int value) { drive(EventKind::Aftertouch, note, value); }
    void driveController(int controller, int value) { drive(EventKind::Control, controller, value); }
    // Rows of the rule table with exactly this Status whose Controller names the whole
    // number numberText, as their ten cell texts, in row order.
    QList<QStringList> matchRules(const QString &status, const QString &numberText) const;
    // Puts a level (clamped to 0 … 255) on the fixtures and the details panel.
    void applyDmxValue(int dmx, int value);

    // ---- state, for the window and for tests ----
    // The level the fades of this number move; -1 before the number was first driven.
    int currentLevel(EventKind kind, int number) const;
    // True when the next toggling event turns the light on (true before the first one).
    bool toggleState(EventKind kind, int number) const;
    // A fade of this number is running.
    bool isFading(EventKind kind, int number) const;

signals:
    // A level landed on DMX channel dmx: fixtures on it repaint.
    void levelApplied(int dmx, int value);
    // The current fixture's stage item records the level under the DMX channel's number.
    void fixtureBindingChanged(const QString &fixture, int dmx, int value);

private:
    enum class FadeMode { Plain, On, Off };
    struct Fade {
        EventKind kind;
        int number;
        int goal;
        int fadeIn;   // step per tick, -1: none
        int fadeOut;  // step per tick, -1: none
        int dmx;      // -1: no rule found
        FadeMode mode;
    };
    struct KindState {
        QHash<int, int> level;
        QHash<int, bool> toggle;
        QHash<int, Timer *> toggleTimers;  // Note and AT only
        QHash<int, Timer *> timers;
    };
    struct HoldState {
        bool on = false;
        QHash<int, bool> heldNotes;
        QHash<int, int> heldVelocities;
    };

    static int index(PreviewKeyboard k) { return k == PreviewKeyboard::Note ? 0 : 1; }
    static EventKind kindOf(PreviewKeyboard k)
    {
        return k == PreviewKeyboard::Note ? EventKind::Note : EventKind::Aftertouch;
    }
    static QString statusText(EventKind kind);

    bool connected() const;
    void send(EventKind kind, int number, int value);
    void log(const QString &event, int number, const QString &value);
    void play(PreviewKeyboard keyboard, int note, int value, const QString &event);
    // Whether a rule toggles: its Toggle reads "ON" (row SN - 1 of the table).
    bool toggles(const DmxTarget &rule) const;
    bool releaseToggles(PreviewKeyboard keyboard, int note) const;
    void drive(EventKind kind, int number, int value);
    // Stops and drops the fade timer of `number`; true when there was one.
    bool discardTimer(QHash<int, Timer *> &timers, int number);
    void startFade(QHash<int, Timer *> &timers, const Fade &fade);
    // One tick; true when the fade has arrived.
    bool step(const Fade &fade);

    GlobalData &m_registry;
    Scheduler &m_timers;
    Timer *m_firing = nullptr;  // the fade timer whose tick runs
    QPointer<const TextTableModel> m_rules;
    QPointer<const RuleSnapshots> m_snapshots;
    QPointer<FixtureDetailsModel> m_details;
    MidiSender *m_sender = nullptr;
    QPointer<MidiMessageLog> m_log;

    int m_channel = 1;
    double m_coefficient = 0.0;
    QString m_currentFixture;
    bool m_hasCurrentFixture = false;
    std::array<HoldState, 2> m_hold;
    std::array<KindState, 3> m_kinds;
};

}  // namespace vl
