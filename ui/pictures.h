// The program's pictures: the indicator pictures of the console and
// programmer pages, the LCD picture and the program icon, drawn as SVG and
// compiled into the program. Each is rendered at its own size.
#pragma once

#include "core/picture_ids.h"

#include <QIcon>
#include <QPixmap>

#include <array>

namespace talmo {

// The indicator pictures that the main window loads once, in loading order.
inline constexpr std::array<int, 13> kIndicatorPictureIds = {
    kPictureSwitchOn,   kPictureSwitchOff, kPictureSwitchManu,  kPictureSwitchAuto,
    kPictureStopLit,    kPictureStopDim,   kPictureDiamondDown, kPictureDiamondUp,
    kPictureSquareDown, kPictureSquareUp,  kPictureContactOpen, kPictureContactClosed,
    kPictureBack};

// Renders one picture at its own size (times the device pixel ratio given);
// a null pixmap for an unknown number.
QPixmap loadPicture(int id, qreal devicePixelRatio = 1.0);
// The program icon, for the window and the desktop entry.
QIcon programIcon();

} // namespace talmo
