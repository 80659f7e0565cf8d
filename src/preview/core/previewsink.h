#pragma once

// What the editor window tells the light preview: which rule cells, remarks and rows
// changed, when to reload its copies of the table, and the value coefficient. The preview
// window implements it; tests record the calls.

#include <QString>

namespace vl {

class PreviewSink {
public:
    virtual ~PreviewSink();

    // The reload steps, always run in this order.
    virtual void rebuildRuleSnapshots() = 0;
    virtual void refreshCcFaders() = 0;
    virtual void markNoteKeys() = 0;
    virtual void markAtKeys() = 0;
    // Follow-ups of a coalesced refresh after rule edits.
    virtual void refreshFixtureDmxChannels() = 0;
    virtual void refreshDetailsPanel() = 0;

    virtual void setCoefficient(double coefficient) = 0;
    virtual void setNaming(int cnum) = 0;

    virtual void ruleCellChanged(int row, int column, const QString &text) = 0;
    virtual void ruleRemarkChanged(int row, const QString &text) = 0;
    virtual void ruleRowInserted(int row) = 0;
    virtual void ruleRowsDeleted(int firstRow, int lastRow) = 0;

    virtual void showMaximized() = 0;
    virtual void show() = 0;
    virtual void close() = 0;
};

}  // namespace vl
