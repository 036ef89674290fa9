// The program's icon, from the pictures built into the program (pixels at
// 16 to 256 pixels, never a theme name, so every tray host can show it).
#pragma once

#include <QIcon>

QIcon ProgramIcon();
