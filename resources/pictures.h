// The program's pictures: the indicator pictures of the console and
// programmer pages, the LCD picture and the program icon, drawn as SVG and
// compiled into the program. Each is rendered at its own size.
#pragma once

#include <QIcon>
#include <QPixmap>

#include <array>

namespace talmo {

// Resource numbers of the pictures.
enum PictureId : int {
    kIconProgram = 107,        // the program icon
    kPictureSwitchAuto = 140,  // AUTO/MANU switch, AUTO position
    kPictureSwitchManu = 141,  // AUTO/MANU switch, MANU position
    kPictureStopLit = 148,     // STOP PROG sign, lit
    kPictureStopDim = 150,     // STOP PROG sign, dim
    kPictureDiamondUp = 152,   // diamond key, released
    kPictureDiamondDown = 153, // diamond key, pressed
    kPictureSquareUp = 155,    // square key, released
    kPictureSquareDown = 157,  // square key, pressed
    kPictureLcd = 158,         // 2 x 20 character LCD
    kPictureContactClosed = 162, // contact closed (green)
    kPictureContactOpen = 163,   // contact open (red)
    kPictureSwitchOn = 166,    // ON/OFF switch, ON position
    kPictureSwitchOff = 167,   // ON/OFF switch, OFF position
    kPictureBack = 169,        // green back arrow "Précédente"
};

// The indicator pictures that the main window loads once, in loading order.
inline constexpr std::array<int, 13> kIndicatorPictureIds = {
    kPictureSwitchOn,   kPictureSwitchOff,   kPictureSwitchManu, kPictureSwitchAuto,
    kPictureStopLit,    kPictureStopDim,     kPictureDiamondDown, kPictureDiamondUp,
    kPictureSquareDown, kPictureSquareUp,    kPictureContactOpen, kPictureContactClosed,
    kPictureBack};

// Renders one picture at its own size (times the device pixel ratio given);
// a null pixmap for an unknown number.
QPixmap loadPicture(int id, qreal devicePixelRatio = 1.0);
// The program icon, for the window and the desktop entry.
QIcon programIcon();

} // namespace talmo
