// The six pictures of the intro and its icon, drawn from code.
#pragma once

#include "files.h"

namespace artmaker {

Picture makeLauncherFont();        // 160 x 96, 4 bits: 16 x 16 font, codes 32-91, 10 cells a row
Picture makeBand();                // 640 x 201, 1 bit: the page of credit lines
Picture makeLogo();                // 1282 x 130, 1 bit: wordmark between two emblems
Picture makeScrollFont();          // 2400 x 32, 4 bits: 32 x 32 font, codes 32-106 in one row
Picture makeBanner();              // 640 x 45, 24 bits: red stripes and a gold wordmark
Picture makeSplash();              // 388 x 212, 8 bits: painted logo in palette entries 0-15
std::vector<IconImage> makeIcon(); // 16 and 32 pixels square, each in 16 and 256 colours

} // namespace artmaker
