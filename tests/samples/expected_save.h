// The save file the sample game's first scripted play leaves: chapter, the verdict page as its
// target, the four items, life 4, the no-life target and one cleared chapter.
#pragma once

inline constexpr char kSaveAfterRunOne[] =
    "[save]\r\n"
    "pt_scn=scn/maid\r\n"
    "pt_target=start:verdict\r\n"
    "pt_item=0 1 2 3 \r\n"
    "pt_life=4\r\n"
    "pt_nolife=start:nolife\r\n"
    "clear=1\r\n";
