#include "rulesnapshots.h"

#include "table/core/notenames.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruletext.h"

#include <limits>

namespace vl {

namespace {

const QString &allText()
{
    static const QString all = QStringLiteral("ALL");
    return all;
}

const QString &onText()
{
    static const QString on = QStringLiteral("ON");
    return on;
}

bool channelAccepts(const QString &ch, const QString &channelText) { return ch == channelText || ch == allText(); }

}  // namespace

bool readWholeNumber(QStringView text, int *value)
{
    int i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.at(0) == QLatin1Char('-') || text.at(0) == QLatin1Char('+'))) {
        negative = text.at(0) == QLatin1Char('-');
        i = 1;
    }
    if (i == text.size())
        return false;
    qint64 n = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        n = n * 10 + (c.unicode() - '0');
        if (n > std::numeric_limits<int>::max())
            return false;
    }
    *value = int(negative ? -n : n);
    return true;
}

bool readControllerNumber(const QString &text, int *value)
{
    const int sep = text.indexOf(noteSeparator());
    return readWholeNumber(sep < 0 ? QStringView(text) : QStringView(text).left(sep), value);
}

bool readLeadingNumber(const QString &text, int *value)
{
    int i = 0;
    qint64 n = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        n = n * 10 + (c.unicode() - '0');
        if (n > std::numeric_limits<int>::max())
            return false;
    }
    if (i == 0)
        return false;
    *value = int(n);
    return true;
}

QString RuleSnapshot::value(int column) const
{
    switch (column) {
    case ColSn: return sn;
    case ColDmx: return dmx;
    case ColSta: return sta;
    case ColCtl: return ctl;
    case ColCh: return ch;
    case ColEnable: return enable;
    default: return QString();
    }
}

RuleSnapshots::RuleSnapshots(QObject *parent) : QObject(parent) {}

void RuleSnapshots::setRuleModel(const TextTableModel *model)
{
    if (!model || model == m_model)
        return;
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    // Any change of the table may change which rules are enabled; the index is rebuilt
    // the next time it is asked.
    connect(model, &QAbstractItemModel::dataChanged, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QAbstractItemModel::rowsInserted, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QAbstractItemModel::rowsMoved, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QAbstractItemModel::columnsInserted, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QAbstractItemModel::columnsRemoved, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QAbstractItemModel::columnsMoved, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QAbstractItemModel::modelReset, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QAbstractItemModel::layoutChanged, this, &RuleSnapshots::invalidateIndex);
    connect(model, &QObject::destroyed, this, &RuleSnapshots::invalidateIndex);
    invalidateIndex();
}

void RuleSnapshots::invalidateIndex() { m_enabledValid = false; }

void RuleSnapshots::rebuild()
{
    m_ruleRows.clear();
    m_ccRuleRows.clear();
    m_byStatusNumber.clear();
    m_enabled.clear();
    if (m_model) {
        const TextTableModel &model = *m_model;
        const int rows = model.rowCount();
        for (int r = 0; r < rows; ++r) {
            RuleSnapshot s;
            s.row = r;
            s.sta = model.text(r, ColSta);
            s.ctl = model.text(r, ColCtl);
            s.ch = model.text(r, ColCh);
            s.enable = model.text(r, ColEnable);
            const bool ccKeys = !s.sta.isEmpty() || !s.ctl.isEmpty() || !s.ch.isEmpty() || !s.enable.isEmpty();
            if (ccKeys)
                m_ccRuleRows.append(s);
            s.sn = model.text(r, ColSn);
            s.dmx = model.text(r, ColDmx);
            if (ccKeys || !s.sn.isEmpty() || !s.dmx.isEmpty()) {
                int number = 0;
                if (!s.sta.isEmpty() && readControllerNumber(s.ctl, &number))
                    m_byStatusNumber[qMakePair(s.sta, number)].append(m_ruleRows.size());
                m_ruleRows.append(s);
            }
            if (!s.sta.isEmpty() && !s.ctl.isEmpty() && !s.ch.isEmpty() && s.enable == onText())
                m_enabled.insert(qMakePair(s.sta, s.ctl));
        }
    }
    m_enabledValid = true;
    emit rebuilt();
}

void RuleSnapshots::rebuildEnabledIndex() const
{
    m_enabled.clear();
    if (m_model) {
        const TextTableModel &model = *m_model;
        const int rows = model.rowCount();
        for (int r = 0; r < rows; ++r) {
            if (model.text(r, ColEnable) != onText())
                continue;
            const QString sta = model.text(r, ColSta);
            const QString ctl = model.text(r, ColCtl);
            if (!sta.isEmpty() && !ctl.isEmpty() && !model.isEmptyCell(r, ColCh))
                m_enabled.insert(qMakePair(sta, ctl));
        }
    }
    m_enabledValid = true;
}

bool RuleSnapshots::isRuleEnabled(const QString &status, const QString &number, const QString &channel) const
{
    Q_UNUSED(channel)  // a rule is enabled or not whatever its channel
    if (!m_model)
        return false;
    if (!m_enabledValid)
        rebuildEnabledIndex();
    return m_enabled.contains(qMakePair(status, number));
}

FaderStates RuleSnapshots::faderStates(int midiChannel) const
{
    FaderStates states{};
    const QString cc = QStringLiteral("CC");
    for (const RuleSnapshot &s : m_ccRuleRows) {
        if (s.sta != cc)
            continue;
        const int controller = s.ctl.toInt();
        if (controller < 0 || controller >= kMidiNumbers)
            continue;
        FaderState &state = states[size_t(controller)];
        state.visible = true;
        state.enabled = false;
        if (s.ch.toInt() == midiChannel || s.ch == allText())
            state.enabled = isRuleEnabled(s.sta, s.ctl, s.ch);
    }
    return states;
}

KeyMarks RuleSnapshots::keyMarks(const QString &lowerStatus, int midiChannel) const
{
    KeyMarks marks{};
    for (const RuleSnapshot &s : m_ruleRows) {
        if (s.sta.compare(lowerStatus, Qt::CaseInsensitive) != 0)
            continue;
        bool ok = false;
        if (s.ch != allText() && !(s.ch.toInt(&ok) == midiChannel && ok))
            continue;
        const int space = s.ctl.indexOf(QLatin1Char(' '));
        int note = 0;
        if (!readWholeNumber(space < 0 ? QStringView(s.ctl) : QStringView(s.ctl).left(space), &note))
            continue;
        if (note < 0 || note >= kMidiNumbers)
            continue;
        if (s.enable == onText())
            marks[size_t(note)] = true;
    }
    return marks;
}

DmxTarget RuleSnapshots::findDmxTarget(const QString &status, int number, int midiChannel) const
{
    DmxTarget target;
    const auto it = m_byStatusNumber.constFind(qMakePair(status, number));
    if (it == m_byStatusNumber.cend())
        return target;
    const QString channelText = QString::number(midiChannel);
    for (const int i : *it) {
        const RuleSnapshot &s = m_ruleRows.at(i);
        if (!channelAccepts(s.ch, channelText) || s.enable != onText())
            continue;
        target.found = true;
        target.row = s.row;
        target.sn = s.sn.toInt();
        int dmx = 0;
        target.dmx = readLeadingNumber(s.dmx, &dmx) ? dmx : 0;
        return target;
    }
    return target;
}

QStringList pitchCLabels(int num)
{
    if (num < NoteNames::kFirstNaming || num > NoteNames::kLastNaming)
        return {};
    QStringList labels;
    labels.reserve(kMidiNumbers);
    for (int n = 0; n < kMidiNumbers; ++n)
        labels.append(n % 12 == 0 ? NoteNames::name(n, num) : QString());
    return labels;
}

}  // namespace vl
