#pragma once
// The program's pictures, compiled in from artwork.qrc.

#include <QIcon>

namespace Art {
inline constexpr const char* ProgramIcon = ":/art/rzt.png";        // 32 x 32
inline constexpr const char* ProgramIconSmall = ":/art/rzt16.png"; // 16 x 16
inline constexpr const char* Logo = ":/art/logo.png";              // 159 x 40 banner
inline constexpr const char* Exit = ":/art/exit.png";              // 16 x 16 button icons
inline constexpr const char* Data = ":/art/data.png";
inline constexpr const char* Save = ":/art/save.png";
inline constexpr const char* About = ":/art/about.png"; // 517 x 297, 24-bit
} // namespace Art

// Registers the pictures with Qt's resource system. The controls call it themselves; a program
// that loads ":/art/..." before creating any control calls it first. Repeated calls are harmless.
void InitArtwork();

// The window icon: the 32 x 32 picture with its 16 x 16 companion.
QIcon ProgramIcon();
