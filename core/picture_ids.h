// Resource numbers of the program's pictures. No toolkit here, so that code
// without Qt (the terminal's status view) names pictures by the same numbers.
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

} // namespace talmo
