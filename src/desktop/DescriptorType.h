// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Makes the desktop treat descriptors as text, so that file managers offer an editor for
// them. shared-mime-info has no INI type, hence a text/plain subtype of our own.
namespace DescriptorType {

inline constexpr char kMimeTypeName[] = "text/x-quarrow-descriptor";
inline constexpr char kPackageFileName[] = "x-quarrow-descriptor.xml";

// The shared-mime-info package that defines the type; packaging installs the same text
// system-wide.
QByteArray PackageXml();

// When the MIME database knows no type for "*.brw", writes the package into the user's
// $XDG_DATA_HOME/mime/packages and rebuilds that database with update-mime-database.
// A known type, whoever defined it, is left alone. Never reports failure to the user and
// never touches system folders. Returns true only when the package file was written.
bool Register();

} // namespace DescriptorType
