// Resource numbers of the program's pictures and the files they are drawn
// from. No toolkit here, so that code without Qt (the console's status
// display, the web page's shell) names pictures by the same numbers.
#pragma once

namespace talmo {

enum PictureId : int {
    kIconProgram = 107,          // the program icon
    kPictureSwitchAuto = 140,    // AUTO/MANU switch, AUTO position
    kPictureSwitchManu = 141,    // AUTO/MANU switch, MANU position
    kPictureStopLit = 148,       // STOP PROG sign, lit
    kPictureStopDim = 150,       // STOP PROG sign, dim
    kPictureDiamondUp = 152,     // diamond key, released
    kPictureDiamondDown = 153,   // diamond key, pressed
    kPictureSquareUp = 155,      // square key, released
    kPictureSquareDown = 157,    // square key, pressed
    kPictureLcd = 158,           // 2 x 20 character LCD
    kPictureContactClosed = 162, // contact closed (green)
    kPictureContactOpen = 163,   // contact open (red)
    kPictureSwitchOn = 166,      // ON/OFF switch, ON position
    kPictureSwitchOff = 167,     // ON/OFF switch, OFF position
    kPictureBack = 169,          // green back arrow "Précédente"
};

// Each picture's SVG file, in ui/pictures/ (and beside the web page).
struct PictureFile {
    int id;
    const char* name;
};
inline constexpr PictureFile kPictureFiles[] = {
    {kIconProgram, "talmo-tools.svg"},
    {kPictureSwitchAuto, "switch_auto.svg"},
    {kPictureSwitchManu, "switch_manu.svg"},
    {kPictureStopLit, "stop_lit.svg"},
    {kPictureStopDim, "stop_dim.svg"},
    {kPictureDiamondUp, "diamond_up.svg"},
    {kPictureDiamondDown, "diamond_down.svg"},
    {kPictureSquareUp, "square_up.svg"},
    {kPictureSquareDown, "square_down.svg"},
    {kPictureLcd, "lcd.svg"},
    {kPictureContactClosed, "contact_closed.svg"},
    {kPictureContactOpen, "contact_open.svg"},
    {kPictureSwitchOn, "switch_on.svg"},
    {kPictureSwitchOff, "switch_off.svg"},
    {kPictureBack, "back.svg"},
};

// The file name of a picture, or null for a number that is none.
constexpr const char* PictureFileName(int id) {
    for (const PictureFile& f : kPictureFiles)
        if (f.id == id)
            return f.name;
    return nullptr;
}

} // namespace talmo
