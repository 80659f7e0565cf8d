#pragma once

// A light preview that only writes down what it was told.

#include "preview/core/previewsink.h"

#include <QStringList>

namespace vl::test {

class RecordingPreview final : public PreviewSink {
public:
    QStringList calls;  // e.g. "rebuildRuleSnapshots", "ruleCellChanged 3 1 10"

    int count(const QString &call) const
    {
        int n = 0;
        for (const QString &c : calls)
            n += (c == call || c.startsWith(call + QLatin1Char(' ')));
        return n;
    }

    void rebuildRuleSnapshots() override { calls << QStringLiteral("rebuildRuleSnapshots"); }
    void refreshCcFaders() override { calls << QStringLiteral("refreshCcFaders"); }
    void markNoteKeys() override { calls << QStringLiteral("markNoteKeys"); }
    void markAtKeys() override { calls << QStringLiteral("markAtKeys"); }
    void refreshFixtureDmxChannels() override { calls << QStringLiteral("refreshFixtureDmxChannels"); }
    void refreshDetailsPanel() override { calls << QStringLiteral("refreshDetailsPanel"); }
    void setCoefficient(double c) override { calls << QStringLiteral("setCoefficient %1").arg(c); }
    void setNaming(int cnum) override { calls << QStringLiteral("setNaming %1").arg(cnum); }
    void ruleCellChanged(int row, int column, const QString &text) override
    {
        calls << QStringLiteral("ruleCellChanged %1 %2 %3").arg(row).arg(column).arg(text);
    }
    void ruleRemarkChanged(int row, const QString &text) override
    {
        calls << QStringLiteral("ruleRemarkChanged %1 %2").arg(row).arg(text);
    }
    void ruleRowInserted(int row) override { calls << QStringLiteral("ruleRowInserted %1").arg(row); }
    void ruleRowsDeleted(int first, int last) override
    {
        calls << QStringLiteral("ruleRowsDeleted %1 %2").arg(first).arg(last);
    }
    void showMaximized() override { calls << QStringLiteral("showMaximized"); }
    void show() override { calls << QStringLiteral("show"); }
    void close() override { calls << QStringLiteral("close"); }
};

}  // namespace vl::test
