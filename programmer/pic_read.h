// Reading the whole board PIC into the PIC image: program memory and EEPROM
// in one walk of the target's address counter, then the ID zone.
#pragma once

#include "link/device_link.h"

namespace talmo {

class Ui;
struct PicImage;
struct PicIdentification;

// Blanks the image, then reads program words 0 to programSize − 1, EEPROM
// bytes 0 to eepromSize − 1 (at the same addresses) and the ID zone; entries
// 0x2004 to 0x2006 are blanked again. Progress goes to the message field
// every 20 addresses, then "Lecture: OK". True on success, false at the first
// step without a 'Y' echo (nothing more is sent, no text is added, the image
// keeps what was read so far).
bool ReadPic(DeviceLink& link, Ui& ui, PicImage& image, const PicIdentification& ident);

} // namespace talmo
