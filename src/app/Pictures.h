#pragma once

#include <QIcon>

// The program's own pictures, drawn as SVG and kept in the resources.
namespace Pictures {

// Registers the resources; safe to call more than once.
void EnsureLoaded();

// The program icon: a pixel-exact small drawing for 16 x 16, the large one for the rest.
QIcon ProgramIcon();

} // namespace Pictures
