// Files written by a real toolchain: small PIC programs are assembled with
// gpasm while the test runs, read with LoadPicHex and checked word by word
// against what their source puts in each memory area; then saved, read
// again and compared.
#include "programmer/pic_image.h"

#include "tests/hex/hex_test_util.h"

#include <cstdlib>
#include <map>

using namespace talmo;

namespace {

struct Program {
    const char* name;
    int programSize, eepromSize;
    bool crlf; // gpasm -n: DOS line ends
    std::string source;
    std::map<std::uint32_t, std::uint32_t> words = {}; // every other entry is blank
};

std::vector<Program> Programs() {
    Program f877a{"16F877A: code at both ends, configuration, IDs, EEPROM data, CR LF", 0x2000,
                  0x100, true, R"(        list p=16f877a
        __CONFIG 0x3F72
        __idlocs 0x1234
        org 0x0000
        goto start
        org 0x0004
start   movlw 0x55
        movwf 0x06
        goto start
        org 0x1FFF
        retlw 0x7F
        org 0x2100
        de 0x01, 0x02, "AB", 0xFF
        end
)"};
    f877a.words = {{0x0000, 0x2804}, {0x0004, 0x3055}, {0x0005, 0x0086}, {0x0006, 0x2804},
                   {0x1FFF, 0x347F}, {0x2000, 1},      {0x2001, 2},      {0x2002, 3},
                   {0x2003, 4},      {0x2007, 0x3F72}, {0x2100, 0x01},   {0x2101, 0x02},
                   {0x2102, 'A'},    {0x2103, 'B'},    {0x2104, 0xFF}};
    Program f873{"16F873: half-size program memory and EEPROM, a RETLW table", 0x1000, 0x80, false,
                 R"(        list p=16f873
        __CONFIG 0x3F39
        __idlocs 0xABCD
        org 0x0000
        nop
        clrf 0x20
        org 0x0100
        dt "VELKOR V2.10"
        org 0x0FFF
        goto 0x0000
        org 0x2100
        de "TABLE", 0x5A, 0x00
        end
)"};
    f873.words = {{0x0000, 0x0000}, {0x0001, 0x01A0}, {0x0FFF, 0x2800}, {0x2000, 0xA},
                  {0x2001, 0xB},    {0x2002, 0xC},    {0x2003, 0xD},    {0x2007, 0x3F39}};
    const std::string table = "VELKOR V2.10", eeprom("TABLE\x5A\0", 7);
    for (std::uint32_t i = 0; i < table.size(); ++i)
        f873.words[0x0100 + i] = 0x3400 | static_cast<std::uint8_t>(table[i]); // retlw
    for (std::uint32_t i = 0; i < eeprom.size(); ++i)
        f873.words[0x2100 + i] = static_cast<std::uint8_t>(eeprom[i]);
    return {f877a, f873};
}

} // namespace

TEST(GpasmFiles, LoadWordByWordThenSaveAndReload) {
    for (const auto& p : Programs()) {
        SCOPED_TRACE(p.name);
        hextest::TempDir dir;
        hextest::WriteFile(dir.file("prog.asm"), p.source);
        const std::string command = std::string(TALMO_GPASM) + (p.crlf ? " -n" : "") + " -o " +
                                    dir.file("prog.hex") + " " + dir.file("prog.asm") + " > " +
                                    dir.file("gpasm.log") + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << hextest::ReadFile(dir.file("gpasm.log"));
        const std::string written = hextest::ReadFile(dir.file("prog.hex"));
        EXPECT_EQ(written.find("\r\n") != std::string::npos, p.crlf);

        ScriptedUi ui;
        auto image = std::make_unique<PicImage>(), again = std::make_unique<PicImage>();
        ASSERT_EQ(LoadPicHex(ui, *image, dir.file("prog.hex")), 1) << written;
        for (std::uint32_t a = 0; a < kPicImageSize; ++a)
            ASSERT_EQ(image->entries[a], p.words.count(a) ? p.words.at(a) : kPicBlankWord)
                << std::hex << a;

        ASSERT_EQ(SavePicHex(ui, *image, dir.file("saved.hex"), p.programSize, p.eepromSize), 1);
        ASSERT_EQ(LoadPicHex(ui, *again, dir.file("saved.hex")), 1);
        EXPECT_TRUE(ui.boxes().empty());
        // Everything comes back, except that a blank EEPROM entry (0x3FFF) is
        // written as its byte 0xFF and so reads back as 0x00FF.
        for (std::uint32_t a = 0; a < kPicImageSize; ++a) {
            const bool saved =
                a >= kPicEepromAddress && a < kPicEepromAddress + std::uint32_t(p.eepromSize);
            ASSERT_EQ(again->entries[a], saved ? image->entries[a] & 0xFF : image->entries[a])
                << std::hex << a;
        }
    }
}
