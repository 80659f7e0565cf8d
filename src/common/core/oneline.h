#pragma once

#include <QString>

namespace vl {

// `text` made fit for one line of a message: line breaks, tabs and other control
// characters are escaped ("\n", "\t", "\u0007") and a long text is cut to `length`
// characters followed by "…".
QString oneLine(const QString &text, int length = 40);

}  // namespace vl
