// The firmware save and programming and the page's sequences against the
// device emulator, through the real device link on its virtual bus.
#include "updater/bootloader_commands.h"
#include "updater/bootloader_flow.h"

#include "hex_text.h"
#include "link/sim_backend.h"
#include "shell/scripted_ui.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"
#include "updater/firmware_image.h"

#include <gtest/gtest.h>

#include <memory>

using namespace talmo;
using namespace talmo::test;

namespace {

struct Emulated {
    VirtualClock clock;
    ScriptedUi ui{&clock};
    sim::VirtualUsb bus{clock};
    SimBackend backend{bus};
    DeviceLink link;
    sim::Talmo* device = nullptr;
    TempDir dir;

    explicit Emulated(sim::Talmo::Mode mode = sim::Talmo::Mode::BootLoader) {
        auto d = std::make_unique<sim::Talmo>();
        d->setMode(mode);
        device = d.get();
        backend.plug(std::move(d));
        link.backend = &backend;
        link.ui = &ui;
        EXPECT_EQ(OpenDevice(link), 1);
    }

    std::array<std::uint8_t, 0x8000> program() const {
        std::array<std::uint8_t, 0x8000> p{};
        p.fill(0xFF);
        for (std::uint32_t a = 0x1300; a < 0x8000; ++a)
            p[a] = device->flashByte(a);
        return p;
    }
    std::array<std::uint8_t, 0x100> eeprom() const {
        std::array<std::uint8_t, 0x100> e{};
        for (std::uint32_t a = 0; a < 0x100; ++a)
            e[a] = device->eepromByte(a);
        return e;
    }
    // Fills the device's application area and EEPROM with a pattern.
    void fillDevice(int seed) {
        std::vector<std::uint8_t> bytes(0x8000 - 0x1300);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 11 + seed + (i >> 7));
        device->setFlashBytes(0x1300, bytes);
        for (std::uint32_t e = 0; e < 0x100; ++e)
            device->setEepromByte(e, static_cast<std::uint8_t>(e * 5 + seed));
        device->setFirmwareVersion("TALMO V0.23");
    }
};

// A firmware file different from anything the emulator holds.
std::string NewFirmwareFile(const TempDir& dir, const std::string& version, std::array<std::uint8_t, 0x8000>& program,
                            std::array<std::uint8_t, 0x100>& eeprom) {
    for (int a = 0; a < 0x8000; ++a)
        program[a] = static_cast<std::uint8_t>(0xA0 ^ (a * 3) ^ (a >> 8));
    for (int e = 0; e < 0x100; ++e)
        eeprom[e] = static_cast<std::uint8_t>(e + 0x40);
    std::fill(program.begin() + 0x130C, program.begin() + 0x1318, 0);
    std::copy(version.begin(), version.end(), program.begin() + 0x130C);
    const auto path = dir / "talmo.hex";
    WriteWholeFile(path, FirmwareFileText(program.data(), eeprom.data()));
    return path.string();
}

} // namespace

TEST(UpdaterOnTheEmulator, SaveGivesTheExactFileOfTheDevicesMemory) {
    Emulated e;
    e.fillDevice(3);
    const auto path = e.dir / "save.hex";
    const std::size_t mark = e.device->log().size();
    ASSERT_TRUE(SaveFirmwareToHex(e.link, e.ui, path.string()));

    const auto program = e.program();
    const auto eeprom = e.eeprom();
    const std::string text = ReadWholeFile(path);
    EXPECT_EQ(text, FirmwareFileText(program.data(), eeprom.data()));
    const auto lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 1763u);
    EXPECT_EQ(lines.front(), ":020000040000FA");
    EXPECT_EQ(lines[1745], ":0200000400F00A");
    EXPECT_EQ(lines.back(), ":00000001FF");

    const auto texts = e.ui.statusTexts(MessageField);
    ASSERT_EQ(texts.size(), 110u);
    EXPECT_EQ(texts.front(), "Lecture de l'adresse: 0x1300/0x8000");
    EXPECT_EQ(texts[108], "Lecture de l'adresse: 0x7F00/0x8000");
    EXPECT_EQ(texts.back(), "Lecture de l'adresse: 0x00/0x100");
    // Program memory block by block, then the EEPROM, each read at the
    // block's first address.
    const auto memory = e.device->log().requestBytes(sim::Match('R').answered(), 2, mark);
    const auto high = e.device->log().requestBytes(sim::Match('R'), 3, mark);
    const auto low = e.device->log().requestBytes(sim::Match('R'), 4, mark);
    ASSERT_EQ(memory.size(), 880u);
    ASSERT_EQ(e.device->log().size() - mark, 880u);
    for (std::size_t i = 0; i < 880; ++i) {
        const bool program = i < 872;
        ASSERT_EQ(memory[i], program ? 1 : 0);
        ASSERT_EQ(high[i] << 8 | low[i], program ? 0x1300 + 32 * static_cast<int>(i) : 32 * static_cast<int>(i - 872));
    }
}

TEST(UpdaterOnTheEmulator, ProgrammingWritesTheFileIntoTheDevice) {
    Emulated e;
    std::array<std::uint8_t, 0x8000> program;
    std::array<std::uint8_t, 0x100> eeprom;
    const std::string path = NewFirmwareFile(e.dir, "TALMO V0.30", program, eeprom);
    auto image = std::make_unique<FirmwareImage>();
    ASSERT_EQ(LoadFirmwareHex(e.ui, *image, path), 1);

    const std::size_t mark = e.device->log().size();
    ASSERT_TRUE(ProgramFirmware(e.link, e.ui, *image));

    const auto flags = e.device->log().requestBytes(sim::Match('W'), 2, mark);
    ASSERT_EQ(flags.size(), 880u);
    for (std::size_t i = 0; i < 872; ++i)
        ASSERT_EQ(flags[i], i % 2 == 0 ? 1 : 2) << i;
    const auto high = e.device->log().requestBytes(sim::Match('W').byte(2, 0), 3, mark);
    const auto low = e.device->log().requestBytes(sim::Match('W').byte(2, 0), 4, mark);
    ASSERT_EQ(low.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(high[i], 0);
        EXPECT_EQ(low[i], 0x1F + 0x20 * i);
    }
    EXPECT_EQ(e.device->log().count(sim::Match('W').answered(), mark), 880u);

    const auto now = e.program();
    EXPECT_TRUE(std::equal(now.begin() + 0x1300, now.end(), program.begin() + 0x1300));
    EXPECT_EQ(e.eeprom(), eeprom);
    EXPECT_EQ(e.device->firmwareVersion(), "TALMO V0.30");
    EXPECT_EQ(e.ui.statusTexts(MessageField).front(), "Ecriture de l'adresse: 0x1800/0x8000");
    EXPECT_EQ(e.ui.statusTexts(MessageField).size(), 13u + 8u);
}

TEST(UpdaterOnTheEmulator, ProgrammingFaults) {
    struct Case {
        const char* name;
        std::optional<std::uint16_t> refuseProgram;
        std::optional<std::uint8_t> refuseEeprom;
        int silentFromW; // 'W' number (from 1) from which the device is silent; 0: never
        std::string text;
        std::size_t writes; // 'W' requests sent in all
    };
    const Case cases[] = {
        {"third block refused", std::uint16_t(0x1340), std::nullopt, 0, "Erreur programmation: 0x135F", 3},
        {"last block refused", std::uint16_t(0x7FE5), std::nullopt, 0, "Erreur programmation: 0x7FFF", 872},
        {"EEPROM block refused", std::nullopt, std::uint8_t(0x47), 0, "Erreur programmation EEPROM: 0x5F", 875},
        {"silent in the middle", std::nullopt, std::nullopt, 300, "TALMO communication: Erreur", 300},
        {"silent on the EEPROM", std::nullopt, std::nullopt, 873, "TALMO communication: Erreur", 873},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Emulated e;
        auto image = std::make_unique<FirmwareImage>();
        ResetFirmwareImage(*image);
        e.device->faults().refuseProgramBlockAt = c.refuseProgram;
        e.device->faults().refuseEepromBlockAt = c.refuseEeprom;
        if (c.silentFromW)
            e.device->faults().silentFrom = e.device->nextExchange() + c.silentFromW - 1;
        const std::size_t mark = e.device->log().size();
        EXPECT_FALSE(ProgramFirmware(e.link, e.ui, *image));
        EXPECT_EQ(e.ui.status(MessageField), c.text);
        EXPECT_EQ(e.device->log().size() - mark, c.writes) << "nothing more is sent";
        EXPECT_EQ(e.device->mode(), sim::Talmo::Mode::BootLoader);
        if (c.silentFromW) {
            // The one unanswered exchange costs its time-out and no more.
            const std::int64_t asked = e.device->log().entries().back().timeUs;
            EXPECT_LE(e.clock.nowUs() - asked, 500'000 + 1'000);
            EXPECT_GE(e.clock.nowUs() - asked, 500'000);
        }
    }
}

TEST(UpdaterOnTheEmulator, SaveStopsAtTheFirstMissingAnswer) {
    Emulated e;
    e.fillDevice(9);
    e.device->faults().silentAt = e.device->nextExchange() + 10; // the 11th 'R'
    const auto path = e.dir / "partial.hex";
    EXPECT_FALSE(SaveFirmwareToHex(e.link, e.ui, path.string()));
    EXPECT_EQ(e.ui.status(MessageField), "TALMO communication: Erreur");
    const auto lines = SplitCrLf(ReadWholeFile(path));
    ASSERT_EQ(lines.size(), 1u + 20u);
    const auto full = SplitCrLf(FirmwareFileText(e.program().data(), e.eeprom().data()));
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), full.begin()));
}

TEST(UpdaterOnTheEmulator, PageSequencesVersionsAndTheAutomaticUpdate) {
    Emulated e;
    e.device->setBootLoaderVersion("TALMO BOOT V1.02");
    e.device->setFirmwareVersion("TALMO V0.23 (c) TALMO 2011"); // longer than its 12 bytes
    std::array<std::uint8_t, 0x8000> program;
    std::array<std::uint8_t, 0x100> eeprom;
    std::string firmwarePath = NewFirmwareFile(e.dir, "TALMO V0.31", program, eeprom);
    std::string savePath;
    BootLoaderFields fields;
    Report report{};
    auto image = std::make_unique<FirmwareImage>();
    BootLoaderContext c{e.link, e.ui, *image, firmwarePath, savePath, fields, report};

    BootLoaderShown(c, false);
    EXPECT_EQ(fields.bootLoaderVersion, "TALMO BOOT V1.02");
    // Up to the last memory byte that the answer carries (0x131F).
    EXPECT_EQ(fields.deviceVersion, "TALMO V0.23 (c) TALM");
    EXPECT_EQ(fields.fileVersion, "-");

    BootLoaderShown(c, true);
    EXPECT_EQ(fields.deviceVersion, "TALMO V0.31");
    EXPECT_EQ(e.ui.status(MessageField), "Programmation: OK");
    // 'Z' sent the device back to its application, running the new firmware.
    EXPECT_EQ(e.device->mode(), sim::Talmo::Mode::Normal);
    EXPECT_EQ(e.device->firmwareVersion(), "TALMO V0.31");
    EXPECT_EQ(e.eeprom(), eeprom);
}
