#pragma once

#include <QString>

namespace vl {

// The version this editor reports; the about box shows it and the update check compares
// against it.
inline QString versionText() { return QStringLiteral("V4.0.1"); }

// The maker's web site: user guides and the about box's link live there.
inline QString vendorSite() { return QStringLiteral("https://www.nemora.example"); }
inline QString companyName() { return QStringLiteral("Nemora Lighting"); }

}  // namespace vl
