// Files written by a real toolchain: small PIC programs are assembled with
// gpasm while the test runs, read with LoadPicHex and checked word by word
// against what their source puts in each memory area; then saved, read
// again and compared.
#include "programmer/pic_image.h"

#include "hex_test_util.h"

#include <cstdlib>
#include <functional>
#include <map>

using namespace talmo;
using hextest::TempDir;

namespace {

struct Program {
    const char* name;
    int programSize;
    int eepromSize;
    bool crlf; // gpasm -n: DOS line ends
    std::string source;
    std::function<void(std::map<std::uint32_t, std::uint32_t>&)> expect;
};

std::vector<Program> Programs() {
    return {
        {"16F877A: code at both ends, configuration, IDs, EEPROM data, CR LF", 0x2000, 0x100, true,
         R"(        list p=16f877a
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
)",
         [](auto& m) {
             m[0x0000] = 0x2804; // goto 4
             m[0x0004] = 0x3055; // movlw 0x55
             m[0x0005] = 0x0086; // movwf 0x06
             m[0x0006] = 0x2804;
             m[0x1FFF] = 0x347F; // retlw 0x7F, last program word
             m[0x2000] = 1, m[0x2001] = 2, m[0x2002] = 3, m[0x2003] = 4;
             m[0x2007] = 0x3F72;
             m[0x2100] = 0x01, m[0x2101] = 0x02, m[0x2102] = 'A', m[0x2103] = 'B', m[0x2104] = 0xFF;
         }},
        {"16F873: half-size program memory and EEPROM", 0x1000, 0x80, false,
         R"(        list p=16f873
        __CONFIG 0x3F39
        __idlocs 0xABCD
        org 0x0000
        nop
        clrf 0x20
        org 0x0100
        variable i
i = 0
        while i < 0x20
        retlw i
i += 1
        endw
        org 0x0FFF
        goto 0x0000
        org 0x2100
        variable j
j = 0
        while j < 0x80
        de j ^ 0x5A
j += 1
        endw
        end
)",
         [](auto& m) {
             m[0x0000] = 0x0000; // nop
             m[0x0001] = 0x01A0; // clrf 0x20
             for (std::uint32_t i = 0; i < 0x20; ++i)
                 m[0x0100 + i] = 0x3400 | i;
             m[0x0FFF] = 0x2800; // goto 0, last word of the smaller PIC
             m[0x2000] = 0xA, m[0x2001] = 0xB, m[0x2002] = 0xC, m[0x2003] = 0xD;
             m[0x2007] = 0x3F39;
             for (std::uint32_t j = 0; j < 0x80; ++j)
                 m[0x2100 + j] = j ^ 0x5A;
         }},
    };
}

} // namespace

TEST(GpasmFiles, LoadWordByWordThenSaveAndReload) {
    for (const auto& p : Programs()) {
        SCOPED_TRACE(p.name);
        TempDir dir;
        hextest::WriteFile(dir.file("prog.asm"), p.source);
        const std::string command = std::string(TALMO_GPASM) + (p.crlf ? " -n" : "") + " -o " +
                                    dir.file("prog.hex") + " " + dir.file("prog.asm") + " > " +
                                    dir.file("gpasm.log") + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << hextest::ReadFile(dir.file("gpasm.log"));
        const std::string written = hextest::ReadFile(dir.file("prog.hex"));
        EXPECT_EQ(written.find("\r\n") != std::string::npos, p.crlf);

        std::map<std::uint32_t, std::uint32_t> expected;
        p.expect(expected);
        ScriptedUi ui;
        PicImage image;
        ASSERT_EQ(LoadPicHex(ui, image, dir.file("prog.hex")), 1) << written;
        EXPECT_TRUE(ui.boxes().empty());
        for (std::uint32_t a = 0; a < kPicImageSize; ++a) {
            const auto it = expected.find(a);
            const std::uint32_t want = it == expected.end() ? kPicBlankWord : it->second;
            ASSERT_EQ(image.entries[a], want) << std::hex << "entry 0x" << a;
        }

        ASSERT_EQ(SavePicHex(ui, image, dir.file("saved.hex"), p.programSize, p.eepromSize), 1);
        PicImage again;
        ASSERT_EQ(LoadPicHex(ui, again, dir.file("saved.hex")), 1);
        // Everything comes back, except that a blank EEPROM entry (0x3FFF) is
        // written as its byte 0xFF and so reads back as 0x00FF.
        for (std::uint32_t a = 0; a < kPicImageSize; ++a) {
            const bool eeprom = a >= kPicEepromAddress;
            const std::uint32_t want =
                eeprom && a < kPicEepromAddress + static_cast<std::uint32_t>(p.eepromSize)
                    ? image.entries[a] & 0xFF
                    : image.entries[a];
            ASSERT_EQ(again.entries[a], want) << std::hex << "entry 0x" << a;
        }
        ASSERT_EQ(SavePicHex(ui, again, dir.file("saved2.hex"), p.programSize, p.eepromSize), 1);
        EXPECT_EQ(hextest::ReadFile(dir.file("saved2.hex")), hextest::ReadFile(dir.file("saved.hex")));
        EXPECT_TRUE(ui.boxes().empty());
    }
}
