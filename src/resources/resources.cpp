#include "resources.h"

#include <QtGlobal>

static void registerBundle() { Q_INIT_RESOURCE(varilume); }

namespace vl {

void initResources() { registerBundle(); }

}  // namespace vl
