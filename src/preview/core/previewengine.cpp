#include "previewengine.h"

#include "fixturedetailsmodel.h"
#include "midimessagelog.h"
#include "rulesnapshots.h"
#include "table/core/rulecolumns.h"

#include <algorithm>

namespace vl {

namespace {

const QString &allText()
{
    static const QString all = QStringLiteral("ALL");
    return all;
}

// A Fix, Fade In or Fade Out text as a number: decimal digits only. "OFF", an empty text
// and anything else are no number.
bool readSetting(const QString &text, int *value)
{
    if (text.isEmpty() || text.at(0) == QLatin1Char('-') || text.at(0) == QLatin1Char('+'))
        return false;
    return readWholeNumber(text, value);
}

// The number in `column` of the first (or last) row that holds one; -1 when none does.
// Fade steps must be positive: a step of 0 would never arrive.
int settingOf(const QList<QStringList> &rows, int column, bool last, bool positive)
{
    int found = -1;
    for (const QStringList &row : rows) {
        int v = 0;
        if (!readSetting(row.value(column), &v) || (positive && v <= 0))
            continue;
        found = v;
        if (!last)
            break;
    }
    return found;
}

int clampLevel(qint64 v) { return int(std::clamp<qint64>(v, 0, 255)); }

}  // namespace

PreviewEngine::PreviewEngine(GlobalData &registry, Scheduler &timers, QObject *parent)
    : QObject(parent), m_registry(registry), m_timers(timers)
{
}

PreviewEngine::~PreviewEngine()
{
    // Timers go before anything their ticks use.
    for (KindState &k : m_kinds) {
        qDeleteAll(k.timers);
        qDeleteAll(k.toggleTimers);
        k.timers.clear();
        k.toggleTimers.clear();
    }
}

QString PreviewEngine::statusText(EventKind kind)
{
    switch (kind) {
    case EventKind::Note: return QStringLiteral("Note");
    case EventKind::Aftertouch: return QStringLiteral("AT");
    case EventKind::Control: return QStringLiteral("CC");
    }
    return QString();
}

void PreviewEngine::setRuleModel(const TextTableModel *rules)
{
    if (rules)
        m_rules = rules;
}

void PreviewEngine::setSnapshots(const RuleSnapshots *snapshots) { m_snapshots = snapshots; }

void PreviewEngine::setDetailsModel(FixtureDetailsModel *details) { m_details = details; }

void PreviewEngine::setMidiSender(MidiSender *sender) { m_sender = sender; }

void PreviewEngine::setMessageLog(MidiMessageLog *log) { m_log = log; }

void PreviewEngine::setCurrentFixture(const QString &name)
{
    m_currentFixture = name;
    m_hasCurrentFixture = true;
}

void PreviewEngine::clearCurrentFixture()
{
    m_currentFixture.clear();
    m_hasCurrentFixture = false;
}

// ---- hold mode ----

void PreviewEngine::setHold(PreviewKeyboard keyboard, bool on)
{
    HoldState &h = m_hold[index(keyboard)];
    h.on = on;
    if (!on)
        h.heldNotes.clear();
}

bool PreviewEngine::isHeld(PreviewKeyboard keyboard, int note) const
{
    return m_hold[index(keyboard)].heldNotes.value(note, false);
}

// ---- the user's events ----

bool PreviewEngine::connected() const { return m_sender && m_sender->midiConnected(); }

void PreviewEngine::send(EventKind kind, int number, int value)
{
    if (!m_sender)
        return;
    const MidiEventKind k = kind == EventKind::Note         ? MidiEventKind::Note
                            : kind == EventKind::Aftertouch ? MidiEventKind::PolyAftertouch
                                                            : MidiEventKind::ControlChange;
    m_sender->sendMidi(k, m_channel, number, value);
}

void PreviewEngine::log(const QString &event, int number, const QString &value)
{
    if (m_log)
        m_log->logMidiMessage(event, m_channel, QString::number(number), value);
}

void PreviewEngine::play(PreviewKeyboard keyboard, int note, int value, const QString &event)
{
    const EventKind kind = kindOf(keyboard);
    send(kind, note, value);
    log(event, note, QString::number(value));
    drive(kind, note, value);
}

PreviewEngine::KeyResult PreviewEngine::keyPressed(PreviewKeyboard keyboard, int note, int velocity, bool keyMapped)
{
    const bool note_ = keyboard == PreviewKeyboard::Note;
    if (m_hold[0].on || m_hold[1].on) {
        if (!connected() || !keyMapped)
            return KeyResult::Ignored;
        HoldState &h = m_hold[index(keyboard)];
        if (!h.on) {
            play(keyboard, note, velocity,
                 note_ ? (velocity > 0 ? QStringLiteral("Note On") : QStringLiteral("Note Off"))
                       : QStringLiteral("AT"));
            return KeyResult::Played;
        }
        h.heldVelocities[note] = velocity > 0 ? velocity : 127;
        const bool held = !h.heldNotes.value(note, false);
        h.heldNotes[note] = held;
        const int value = held ? h.heldVelocities.value(note) : 0;
        play(keyboard, note, value,
             note_ ? (held ? QStringLiteral("Note On") : QStringLiteral("Note Off")) : QStringLiteral("AT"));
        return KeyResult::Played;
    }
    if (!keyMapped)
        return KeyResult::Ignored;
    if (!connected())
        return KeyResult::ConnectionFailed;
    play(keyboard, note, velocity,
         note_ ? (velocity > 0 ? QStringLiteral("Note On") : QStringLiteral("Note Off")) : QStringLiteral("AT"));
    return KeyResult::Played;
}

bool PreviewEngine::toggles(const DmxTarget &rule) const
{
    return rule.found && rule.sn >= 1 && m_rules && m_rules->text(rule.sn - 1, ColToggle) == QLatin1String("ON");
}

bool PreviewEngine::releaseToggles(PreviewKeyboard keyboard, int note) const
{
    // The release asks the rule the press drove, so press and release agree.
    if (!m_snapshots)
        return false;
    return toggles(m_snapshots->findDmxTarget(statusText(kindOf(keyboard)), note, m_channel));
}

PreviewEngine::KeyResult PreviewEngine::keyReleased(PreviewKeyboard keyboard, int note, bool keyMapped)
{
    const bool note_ = keyboard == PreviewKeyboard::Note;
    const QString offEvent = note_ ? QStringLiteral("Note Off") : QStringLiteral("AT");
    if (m_hold[0].on || m_hold[1].on) {
        if (!connected() || !keyMapped)
            return KeyResult::Ignored;
        HoldState &h = m_hold[index(keyboard)];
        if (!h.on) {
            play(keyboard, note, 0, offEvent);
            return KeyResult::Played;
        }
        const bool wasHeld = h.heldNotes.value(note, false);
        h.heldNotes[note] = !wasHeld;
        const int value = wasHeld ? 0 : h.heldVelocities.value(note, 127);
        play(keyboard, note, value,
             note_ ? (!wasHeld ? QStringLiteral("Note On") : QStringLiteral("Note Off")) : QStringLiteral("AT"));
        return KeyResult::Played;
    }
    const bool toggling = releaseToggles(keyboard, note);
    if (!connected())
        return KeyResult::ConnectionFailed;
    if (!keyMapped)
        return KeyResult::Ignored;
    if (!toggling) {
        const EventKind kind = kindOf(keyboard);
        send(kind, note, 0);
        drive(kind, note, 0);
        log(offEvent, note, QStringLiteral("0"));
    }
    return KeyResult::Played;
}

void PreviewEngine::faderMoved(int controller, int value)
{
    send(EventKind::Control, controller, value);
    drive(EventKind::Control, controller, value);
    log(QStringLiteral("CC"), controller, QString::number(value));
}

void PreviewEngine::playMessage(EventKind kind, int channel, int number, int value)
{
    if (channel < 1 || channel > 16 || number < 0 || number > 127 || value < 0 || value > 127)
        return;
    const int shown = m_channel;
    m_channel = channel;
    // A release (value 0) of a key whose rule toggles leaves the light, as on the keyboards.
    const bool key = kind != EventKind::Control;
    const PreviewKeyboard keyboard = kind == EventKind::Note ? PreviewKeyboard::Note : PreviewKeyboard::Aftertouch;
    if (!(key && value == 0 && releaseToggles(keyboard, number)))
        drive(kind, number, value);
    m_channel = shown;
}

// ---- the rules ----

QList<QStringList> PreviewEngine::matchRules(const QString &status, const QString &numberText) const
{
    QList<QStringList> rows;
    int wanted = 0;
    if (!m_rules || !readWholeNumber(numberText, &wanted))
        return rows;
    const TextTableModel &rules = *m_rules;
    for (int r = 0; r < rules.rowCount(); ++r) {
        if (rules.text(r, ColSta) != status)
            continue;
        int number = 0;
        if (!readControllerNumber(rules.text(r, ColCtl), &number) || number != wanted)
            continue;
        QStringList cells;
        cells.reserve(kRuleColumns);
        for (int c = 0; c < kRuleColumns; ++c)
            cells.append(rules.text(r, c));
        rows.append(cells);
    }
    return rows;
}

void PreviewEngine::drive(EventKind kind, int number, int value)
{
    // Levels reach every fixture and the DMX output whether or not a fixture was clicked;
    // the clicked one only records them in its bindings (applyDmxValue).
    KindState &state = m_kinds[size_t(kind)];
    if (!state.toggle.contains(number))
        state.toggle.insert(number, true);

    const QString channelText = QString::number(m_channel);
    QList<QStringList> rows = matchRules(statusText(kind), QString::number(number));
    rows.erase(std::remove_if(
                   rows.begin(), rows.end(),
                   [&](const QStringList &row) { return row.at(ColCh) != channelText && row.at(ColCh) != allText(); }),
               rows.end());
    const int fadeIn = settingOf(rows, ColFadeIn, true, true);
    const int fadeOut = settingOf(rows, ColFadeOut, true, true);
    // Controllers take the first fixed value, notes and after-touch the last.
    const int fixed = settingOf(rows, ColFix, kind != EventKind::Control, false);

    int target = 0;
    if (value != 0) {
        if (fixed != -1) {
            target = clampLevel(fixed);
        } else {
            const double scaled = double(value) * m_coefficient;
            target = scaled >= 255.0 ? 255 : scaled > 0.0 ? int(scaled) : 0;
        }
    }

    DmxTarget rule;
    if (m_snapshots)
        rule = m_snapshots->findDmxTarget(statusText(kind), number, m_channel);
    const int dmx = rule.found ? rule.dmx : -1;

    if (fadeIn == -1 && fadeOut == -1 && dmx >= 0)
        applyDmxValue(dmx, target);

    const bool toggling = toggles(rule);

    if (!state.level.contains(number))
        state.level.insert(number, dmx >= 0 ? m_registry.firstChannelValue(dmx) : 0);

    Fade fade{kind, number, target, fadeIn, fadeOut, dmx, FadeMode::Plain};
    if (kind == EventKind::Control) {
        discardTimer(state.timers, number);
        if (toggling) {
            if (state.toggle.value(number)) {
                fade.mode = FadeMode::On;
            } else {
                fade.mode = FadeMode::Off;
                fade.goal = 0;
            }
        }
        startFade(state.timers, fade);
        return;
    }
    if (!toggling) {
        discardTimer(state.timers, number);
        startFade(state.timers, fade);
        return;
    }
    const bool hadTimer = discardTimer(state.toggleTimers, number);
    if (state.toggle.value(number)) {
        if (hadTimer)
            state.toggle[number] = false;
        fade.mode = FadeMode::On;
    } else {
        if (hadTimer)
            state.toggle[number] = true;
        fade.mode = FadeMode::Off;
        fade.goal = 0;
    }
    startFade(state.toggleTimers, fade);
}

bool PreviewEngine::discardTimer(QHash<int, Timer *> &timers, int number)
{
    Timer *timer = timers.take(number);
    if (!timer)
        return false;
    timer->stop();
    // A timer is never destroyed inside its own tick.
    if (timer == m_firing)
        timer->deleteLater();
    else
        delete timer;
    return true;
}

void PreviewEngine::startFade(QHash<int, Timer *> &timers, const Fade &fade)
{
    Timer *timer = m_timers.createTimer(this);
    connect(timer, &Timer::timeout, this, [this, timer, fade]() {
        const bool arrived = step(fade);
        if (arrived)
            timer->stop();
        const int level = m_kinds[size_t(fade.kind)].level.value(fade.number);
        if (fade.dmx >= 0) {
            Timer *outer = m_firing;
            m_firing = timer;
            applyDmxValue(fade.dmx, level);
            m_firing = outer;
        }
    });
    timers.insert(fade.number, timer);
    timer->start(kFadeIntervalMs);
}

bool PreviewEngine::step(const Fade &fade)
{
    KindState &state = m_kinds[size_t(fade.kind)];
    qint64 level = state.level.value(fade.number);
    bool arrived = false;
    bool steppedThere = false;  // arrived by a step of the fade, or found it there
    if (level < fade.goal) {
        if (fade.fadeIn < 0) {
            level = fade.goal;
            arrived = true;
        } else {
            level += fade.fadeIn;
            if (level >= fade.goal) {
                level = fade.goal;
                arrived = steppedThere = true;
            }
        }
    } else if (level > fade.goal) {
        if (fade.fadeOut < 0) {
            level = fade.goal;
            arrived = true;
        } else {
            level -= fade.fadeOut;
            if (level <= fade.goal) {
                level = fade.goal;
                arrived = steppedThere = true;
            }
        }
    } else {
        arrived = steppedThere = true;
    }
    state.level[fade.number] = clampLevel(level);

    if (fade.mode == FadeMode::On) {
        // A note's light counts as on once the fade got there; after-touch and
        // controllers count it on from the first tick.
        if (fade.kind != EventKind::Note || steppedThere)
            state.toggle[fade.number] = false;
    } else if (fade.mode == FadeMode::Off && fade.kind != EventKind::Note) {
        state.toggle[fade.number] = true;
    }
    return arrived;
}

void PreviewEngine::applyDmxValue(int dmx, int value)
{
    const int level = clampLevel(value);
    m_registry.setChannelValue(dmx, level);
    if (m_details) {
        const QVector<int> rows = m_details->rowsShowingDmx(dmx);
        if (!rows.isEmpty()) {
            QString remark;
            for (const LightFixture &f : m_registry.fixtureMap()) {
                for (const FixtureChannel &c : f.selectedChannels) {
                    if (c.dmxCH == dmx && !c.remark.isEmpty()) {
                        remark = c.remark;
                        break;
                    }
                }
                if (!remark.isEmpty())
                    break;
            }
            // The remark and the level are kept apart by ":", the separator the value
            // bar reads its number after; run together ("Red200") the bar stayed empty
            // and a remark ending in a digit changed the number shown.
            const QString text = remark.isEmpty() ? QString::number(level)
                                                  : remark + QLatin1Char(':') + QString::number(level);
            for (const int r : rows)
                m_details->setCellText(r, FixtureDetailsModel::ValueColumn, text);
        }
    }
    if (m_hasCurrentFixture && m_registry.hasFixture(m_currentFixture))
        emit fixtureBindingChanged(m_currentFixture, dmx, level);
    emit levelApplied(dmx, level);
}

// ---- state ----

int PreviewEngine::currentLevel(EventKind kind, int number) const
{
    return m_kinds[size_t(kind)].level.value(number, -1);
}

bool PreviewEngine::toggleState(EventKind kind, int number) const
{
    return m_kinds[size_t(kind)].toggle.value(number, true);
}

bool PreviewEngine::isFading(EventKind kind, int number) const
{
    const KindState &state = m_kinds[size_t(kind)];
    const auto active = [&](const QHash<int, Timer *> &timers) {
        const Timer *timer = timers.value(number);
        return timer && timer->isActive();
    };
    return active(state.timers) || active(state.toggleTimers);
}

}  // namespace vl
