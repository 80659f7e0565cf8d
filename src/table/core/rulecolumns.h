#pragma once

#include <QStringList>

namespace vl {

// A full rule table holds as many rows as the box holds rules.
constexpr int kRuleRows = 3072;
constexpr int kRuleColumns = 10;
constexpr int kDmxChannels = 1024;

enum RuleColumn {
    ColSn = 0,
    ColDmx,
    ColSta,
    ColCtl,
    ColCh,
    ColFix,
    ColFadeIn,
    ColFadeOut,
    ColToggle,
    ColEnable,
};

// The model's header labels: "SN", "DMX", "Sta", … "Enable".
const QStringList &ruleColumnLabels();

}  // namespace vl
