#include "sim/board_firmware.h"

namespace sim {

namespace {

// A small deterministic generator, so that every seeded chip is alike.
struct Lcg {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

std::uint16_t Instruction(Lcg& rng, std::uint32_t codeWords) {
    const std::uint32_t r = rng.next();
    const std::uint16_t f =
        static_cast<std::uint16_t>(0x20 + (r >> 8) % 0x50); // general-purpose registers
    const std::uint16_t bit = static_cast<std::uint16_t>((r >> 16) & 7);
    const std::uint16_t k = static_cast<std::uint16_t>((r >> 4) & 0xFF);
    const std::uint16_t target =
        static_cast<std::uint16_t>((r >> 3) % (codeWords < 0x800 ? codeWords : 0x800));
    switch (r % 12) {
    case 0:
        return static_cast<std::uint16_t>(0x3000 | k); // MOVLW k
    case 1:
        return static_cast<std::uint16_t>(0x0080 | f); // MOVWF f
    case 2:
        return static_cast<std::uint16_t>(0x0800 | f); // MOVF f,W
    case 3:
        return static_cast<std::uint16_t>(0x1400 | bit << 7 | f); // BSF f,b
    case 4:
        return static_cast<std::uint16_t>(0x1000 | bit << 7 | f); // BCF f,b
    case 5:
        return static_cast<std::uint16_t>(0x1C00 | bit << 7 | f); // BTFSS f,b
    case 6:
        return static_cast<std::uint16_t>(0x1800 | bit << 7 | f); // BTFSC f,b
    case 7:
        return static_cast<std::uint16_t>(0x2000 | target); // CALL
    case 8:
        return static_cast<std::uint16_t>(0x2800 | target); // GOTO
    case 9:
        return static_cast<std::uint16_t>(0x0A80 | f); // INCF f,F
    case 10:
        return static_cast<std::uint16_t>(0x0B80 | f); // DECFSZ f,F
    default:
        return 0x0008; // RETURN
    }
}

} // namespace

std::uint32_t LoadBoardFirmware(Pic& pic, const std::string& versionTable) {
    pic.eraseAll();
    const std::uint32_t words = pic.info().programWords;
    const std::uint32_t codeWords = words / 2 + words / 8; // 2560 or 5120 words of code
    Lcg rng{0x5EED1234u};

    // Reset vector: PCLATH to the main page, then GOTO main; interrupt vector at 4.
    pic.setCell(0x0000, 0x3000); // MOVLW 0
    pic.setCell(0x0001, 0x008A); // MOVWF PCLATH
    pic.setCell(0x0002, 0x2810); // GOTO 0x010
    pic.setCell(0x0003, 0x0000); // NOP
    pic.setCell(0x0004, 0x00F0); // MOVWF W_TEMP (interrupt entry)
    pic.setCell(0x0005, 0x0E03); // SWAPF STATUS,W
    pic.setCell(0x0006, 0x0183); // CLRF STATUS
    pic.setCell(0x0007, 0x00F1); // MOVWF STATUS_TEMP
    for (std::uint32_t a = 8; a < codeWords; ++a)
        pic.setCell(a, Instruction(rng, codeWords));

    // Version table near the end of the code: ADDWF PCL,F; RETLW 'V'; ...; RETLW 0.
    const std::uint32_t table = codeWords - static_cast<std::uint32_t>(versionTable.size()) - 8;
    pic.setCell(table - 1, 0x0782);
    std::uint32_t a = table;
    for (unsigned char c : versionTable)
        pic.setCell(a++, static_cast<std::uint16_t>(0x3400 | c));
    pic.setCell(a++, 0x3400);
    pic.setCell(a, 0x0008);

    // EEPROM: axis parameters, then blank.
    const std::uint32_t eeprom = pic.info().eepromBytes;
    for (std::uint32_t e = 0; e < 48 && e < eeprom; ++e)
        pic.setCell(Pic::kEepromBase + e, static_cast<std::uint16_t>((e * 37 + 11) & 0xFF));
    pic.setCell(Pic::kEepromBase + eeprom - 1, 0x5A); // last byte: "parameters valid" marker

    pic.setCell(0x2000, 0x0002);
    pic.setCell(0x2001, 0x0001);
    pic.setCell(0x2002, 0x0000);
    pic.setCell(0x2003, 0x0003);
    pic.setConfigWord(kBoardConfigWord);
    return table;
}

} // namespace sim
