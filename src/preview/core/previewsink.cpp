#include "previewsink.h"

namespace vl {

PreviewSink::~PreviewSink() = default;

}  // namespace vl
