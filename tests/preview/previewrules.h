#pragma once

// Small hand-made rule tables for the preview's tests: one line per rule, the cells after "SN" in
// column order. A missing cell stays empty.

#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QMetaType>
#include <QStringList>

#include <initializer_list>

namespace vl::test {

struct Rule {
    Rule(QString dmx = {}, QString sta = {}, QString ctl = {}, QString ch = {}, QString fix = {}, QString fadeIn = {},
         QString fadeOut = {}, QString toggle = {}, QString enable = {})
        : dmx(dmx), sta(sta), ctl(ctl), ch(ch), fix(fix), fadeIn(fadeIn), fadeOut(fadeOut), toggle(toggle),
          enable(enable)
    {
    }
    QString dmx, sta, ctl, ch, fix, fadeIn, fadeOut, toggle, enable;
};

// Writes rule `rule` into row `row`, growing the table as needed and numbering "SN".
inline void setRule(RuleModel &m, int row, const Rule &rule)
{
    if (m.rowCount() <= row) {
        const int from = m.rowCount();
        m.setRowCount(row + 1);
        for (int r = from; r <= row; ++r)
            m.setText(r, ColSn, QString::number(r + 1));
    }
    const QString cells[] = {rule.dmx,    rule.sta,     rule.ctl,    rule.ch,    rule.fix,
                             rule.fadeIn, rule.fadeOut, rule.toggle, rule.enable};
    for (int c = 0; c < 9; ++c) {
        if (cells[c].isEmpty())
            m.clearCell(row, ColDmx + c);
        else
            m.setText(row, ColDmx + c, cells[c]);
    }
}

inline void setRules(RuleModel &m, std::initializer_list<Rule> rules)
{
    int row = 0;
    for (const Rule &r : rules)
        setRule(m, row++, r);
}

}  // namespace vl::test

Q_DECLARE_METATYPE(vl::test::Rule)
