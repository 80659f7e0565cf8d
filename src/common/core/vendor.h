#pragma once

// Who we are: the editor's version and the maker's web site. The version number comes from
// the project version in CMakeLists.txt (through the generated common/version.h).

#include "common/version.h"

#include <QString>

namespace vl {

// The version number, "4.0.1".
inline QString versionNumber() { return QStringLiteral(VARILUME_VERSION); }
constexpr int kVersionMajor = VARILUME_VERSION_MAJOR;

// The version this editor reports, "V4.0.1": the about box shows it and the update check
// compares against it.
inline QString versionText() { return QStringLiteral("V" VARILUME_VERSION); }

// The maker's web site: user guides and the about box's link live there.
inline QString vendorHost() { return QStringLiteral("www.nemora.example"); }
inline QString vendorSite() { return QStringLiteral("https://") + vendorHost(); }
inline QString companyName() { return QStringLiteral("Nemora Lighting"); }

}  // namespace vl
