#pragma once

#include <QIcon>

// The window icon: two cog wheels, drawn from the SVG kept with the program.
QIcon two_cogs_icon();
