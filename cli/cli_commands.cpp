#include "cli/cli_commands.h"

#include "cli/status_view.h"
#include "console/console_commands.h"
#include "console/console_core.h"
#include "core/clock.h"
#include "hex/hex_records.h"
#include "programmer/board_version.h"
#include "programmer/pic_image.h"
#include "programmer/programmer_flow.h"
#include "updater/bootloader_commands.h"
#include "updater/bootloader_flow.h"
#include "updater/firmware_image.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace talmo::cli {

namespace {

constexpr int kPollPeriodMs = 50;
constexpr int kPollAttempts = 3;
constexpr int kVersionAttempts = 3;
constexpr int kVersionRetryMs = 200;

// The texts that end the long operations successfully.
constexpr char kSaveOk[] = "Sauvegarde: OK";
constexpr char kProgramPicOk[] = "Programmation+Vérification: OK";
// A device that does not answer.
constexpr char kCommError[] = "TALMO communication: Erreur";

std::string Hex4(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(v));
    return text;
}

// The device the link holds is still listed, in the same mode (a node name
// may come back at once with the other product ID).
bool StillPresent(HidBackend& backend, const DeviceLink& link) {
    for (const HidInterfaceInfo& info : backend.enumerate())
        if (info.path == link.devicePath && info.productId == link.productId)
            return true;
    return false;
}

// The status for an operation that ended without its success text.
int FailureStatus(const TerminalUi& ui) { return ui.fileErrorShown() ? kExitFile : kExitDevice; }

bool RequireNormalMode(CliContext& c) {
    if (c.link.productId == kTalmoProductId)
        return true;
    c.ui.printError(
        "Le TALMO est en mode boot loader : cette commande demande le mode normal. "
        "« talmo-cli firmware program FICHIER » programme un firmware et l'en fait sortir.");
    return false;
}

// The version text that the device's firmware reports in normal mode.
std::optional<std::string> RunningVersion(CliContext& c) {
    Report r{};
    for (int attempt = 0; attempt < kVersionAttempts; ++attempt) {
        if (attempt > 0)
            c.ui.waitMs(kVersionRetryMs);
        BuildVersionRequest(r);
        if (Exchange(c.link, r))
            return VersionText(r);
    }
    return std::nullopt;
}

// ------------------------------------------------------------------ hex check

// Shows the first refusal in a box captioned "Erreur fichier": true when
// there was none.
bool ShowFirstRefusal(TerminalUi& ui, const std::vector<const char*>& refusals) {
    if (!refusals.empty())
        ui.errorBox(refusals.front(), kHexReadCaption);
    return refusals.empty();
}

// Shows every refusal in a box captioned "Erreur fichier": true when there was
// none.
bool ShowRefusals(TerminalUi& ui, const std::vector<const char*>& refusals) {
    for (const char* refusal : refusals)
        ui.errorBox(refusal, kHexReadCaption);
    return refusals.empty();
}

int CheckPicFile(TerminalUi& ui, const std::string& file) {
    auto image = std::make_unique<PicImage>();
    HexFileFacts facts;
    if (LoadPicHex(ui, *image, file, &facts) != 1)
        return kExitFile;
    const bool programmable = ShowRefusals(ui, PicFileRefusals(facts));
    const auto& e = image->entries;
    std::uint32_t words = 0, first = 0, last = 0;
    for (std::uint32_t a = 0; a < 0x2000; ++a) {
        if (e[a] == kPicBlankWord)
            continue;
        if (words++ == 0)
            first = a;
        last = a;
    }
    std::uint32_t eeprom = 0, ids = 0;
    for (std::uint32_t a = 0; a < 0x100; ++a)
        eeprom += e[kPicEepromAddress + a] != kPicBlankWord;
    for (std::uint32_t a = kPicIdAddress; a < kPicIdAddress + 4; ++a)
        ids += e[a] != kPicBlankWord;

    if (programmable)
        ui.printLine("OK");
    ui.printLine("Mots de programme: " + std::to_string(words) +
                 (words ? " (de " + Hex4(first) + " à " + Hex4(last) + ")" : std::string()));
    ui.printLine("Octets EEPROM: " + std::to_string(eeprom));
    ui.printLine("Mots ID: " + std::to_string(ids));
    ui.printLine("Mot de configuration: " + (e[kPicConfigAddress] == kPicBlankWord
                                                 ? std::string("absent (0x3FFF)")
                                                 : Hex4(e[kPicConfigAddress])));
    // Sized for the largest chip: the window searches the identified PIC's size.
    ui.printLine("Version: " + FindBoardVersion(*image, 0x2000));
    return programmable ? kExitOk : kExitFile;
}

int CheckFirmwareFile(TerminalUi& ui, const std::string& file) {
    auto image = std::make_unique<FirmwareImage>();
    HexFileFacts facts;
    if (LoadFirmwareHex(ui, *image, file, &facts) != 1)
        return kExitFile;
    std::vector<const char*> refusals = FirmwareFileRefusals(facts);
    for (const char* refusal : FirmwareContentRefusals(*image))
        refusals.push_back(refusal);
    const bool programmable = ShowRefusals(ui, refusals);
    const auto& cells = image->cells;
    std::uint32_t program = 0, eeprom = 0, ignored = 0;
    for (std::uint32_t a = kFirmwareAppStart; a < kFirmwareImageSize; ++a)
        program += cells[a] != kFirmwareBlank;
    for (std::uint32_t a = 0; a < kFirmwareEepromSize; ++a)
        eeprom += cells[a] != kFirmwareBlank;
    for (std::uint32_t a = kFirmwareEepromSize; a < kFirmwareAppStart; ++a)
        ignored += cells[a] != kFirmwareBlank;

    if (programmable)
        ui.printLine("OK");
    ui.printLine("Octets de programme: " + std::to_string(program) + " (zone " +
                 Hex4(kFirmwareAppStart) + " à 0x7FFF)");
    ui.printLine("Octets EEPROM: " + std::to_string(eeprom));
    if (ignored)
        ui.printLine("Octets dans la zone du boot loader, jamais transférés: " +
                     std::to_string(ignored));
    ui.printLine("Version: " + ImageVersionText(*image));
    return programmable ? kExitOk : kExitFile;
}

} // namespace

bool WaitForMode(DeviceLink& link, Ui& ui, std::uint16_t productId, int timeoutMs) {
    Clock& clock = ui.clock();
    const std::int64_t start = clock.nowMs();
    for (;;) {
        if (link.backend) {
            for (const HidDeviceEvent& event : link.backend->takeEvents())
                OnDeviceChange(link, event);
            // Without events (or before they come), a device that left is
            // noticed by its absence from the list.
            if (link.connected() && link.productId != productId &&
                !StillPresent(*link.backend, link))
                CloseDevice(link);
            if (!link.connected())
                OpenDevice(link);
        }
        if (link.connected() && link.productId == productId)
            return true;
        if (clock.nowMs() - start >= timeoutMs)
            return false;
        ui.waitMs(kPollPeriodMs);
    }
}

int RunHexCheck(TerminalUi& ui, const Options& options) {
    return options.hexKind == HexKind::Pic ? CheckPicFile(ui, options.file)
                                           : CheckFirmwareFile(ui, options.file);
}

// ------------------------------------------------------------------ status

int RunStatus(CliContext& c, const Options& options) {
    if (!RequireNormalMode(c))
        return kExitDevice;
    Report buffer{};
    StatusCache cache;
    const StartResult start = RunStartSequence(c.link, buffer, cache, c.ui);
    if (start.tooOld) {
        c.ui.printError(
            "Le TALMO redémarre dans son boot loader : programmer un firmware récent avec "
            "« talmo-cli firmware program FICHIER ».");
        return kExitDevice;
    }
    if (!start.version) {
        c.ui.printError(kCommError);
        return kExitDevice;
    }
    for (const std::string& line : StartLines(start))
        c.ui.printLine(line);

    StatusView view;
    bool shown = false;
    for (int attempt = 0; attempt < kPollAttempts && !shown; ++attempt) {
        if (attempt > 0)
            c.ui.waitMs(kPollPeriodMs);
        if (PollStatus(c.link, buffer, cache) != PollOutcome::NoAnswer) {
            view.apply(DecodeStatus(cache.bytes));
            shown = true;
        }
    }
    if (!shown) {
        c.ui.printError(kCommError);
        return kExitDevice;
    }
    c.ui.printBlock(view.lines());
    if (!options.watch)
        return kExitOk;

    while (!(c.interrupted && *c.interrupted)) {
        c.ui.waitMs(kPollPeriodMs);
        if (c.simulated) // the virtual clock does not really wait
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollPeriodMs));
        const PollOutcome outcome = PollStatus(c.link, buffer, cache);
        if (outcome == PollOutcome::Changed) {
            view.apply(DecodeStatus(cache.bytes));
            c.ui.printBlock(view.lines());
        } else if (outcome == PollOutcome::NoAnswer && c.link.backend) {
            for (const HidDeviceEvent& event : c.link.backend->takeEvents())
                OnDeviceChange(c.link, event);
            if (!c.link.connected() || c.link.productId != kTalmoProductId) {
                c.ui.printError("Le TALMO n'est plus connecté en mode normal.");
                return c.link.connected() ? kExitDevice : kExitNoDevice;
            }
        }
    }
    return kExitOk;
}

// ------------------------------------------------------------------ firmware

int RunFirmware(CliContext& c, const Options& options) {
    const bool program = options.command == Command::FirmwareProgram;
    // A file that cannot be right, or a destination that cannot take the
    // save, never sends the device anywhere.
    HexOutputCheck output;
    if (program) {
        auto check = std::make_unique<FirmwareImage>();
        HexFileFacts facts;
        bool accepted = LoadFirmwareHex(c.ui, *check, options.file, &facts) == 1;
        if (accepted) {
            std::vector<const char*> refusals = FirmwareFileRefusals(facts);
            if (refusals.empty() && !options.force)
                refusals = FirmwareContentRefusals(*check);
            accepted = ShowFirstRefusal(c.ui, refusals);
        }
        if (!accepted) {
            c.ui.setStatusText(MessageField, "Lecture du fichier: Erreur");
            return kExitFile;
        }
        const std::string fileVersion = ImageVersionText(*check);
        c.ui.printLine("Version du fichier: " + fileVersion);
        if (!options.assumeYes) {
            // The question shows what runs now; with --yes nothing is asked,
            // so nothing more is read.
            Report r{};
            const std::optional<std::string> running = c.link.productId == kTalmoProductId
                                                           ? RunningVersion(c)
                                                           : QueryDeviceFirmwareVersion(c.link, r);
            c.ui.printLine("Version en service: " + running.value_or("Inconnue"));
        }
        c.ui.setAssumeYes(options.assumeYes);
        if (c.ui.messageBox("Programmer cette version ?\n" + fileVersion, "Programmation",
                            Icon::Question, Buttons::YesNo) != Answer::Yes) {
            c.ui.setStatusText(MessageField, "Programmation: annulée");
            return kExitDevice;
        }
    } else if (!output.check(c.ui, options.file)) {
        c.ui.setStatusText(MessageField, "Sauvegarde: Erreur");
        return kExitFile;
    }

    if (c.link.productId == kTalmoProductId) {
        Report jump{};
        JumpToBootLoader(c.link, jump);
        if (!WaitForMode(c.link, c.ui, kBootLoaderProductId, kModeSwitchTimeoutMs)) {
            c.ui.printError("Le TALMO n'est pas revenu en mode boot loader dans les " +
                            std::to_string(kModeSwitchTimeoutMs / 1000) + " s.");
            return c.link.connected() ? kExitDevice : kExitNoDevice;
        }
    }

    auto image = std::make_unique<FirmwareImage>();
    std::string firmwarePath = options.file;
    std::string savePath;
    BootLoaderFields fields;
    Report report{};
    BootLoaderContext bc{c.link, c.ui, *image, firmwarePath, savePath, fields, report};
    BootLoaderShown(bc, false);
    c.ui.printLine("Boot Loader Version: " + fields.bootLoaderVersion);
    c.ui.printLine("Version: " + fields.deviceVersion);

    int status = kExitOk;
    if (program) {
        if (!BootLoaderAutoUpdate(bc)) {
            c.ui.printError(
                "Le TALMO reste dans son boot loader ; la commande peut être relancée.");
            return FailureStatus(c.ui);
        }
    } else {
        c.ui.setDialogPath(options.file);
        BootLoaderSave(bc);
        if (c.ui.messageText() != kSaveOk)
            status = FailureStatus(c.ui);
        // The firmware is untouched whatever the save did: back to normal mode.
        BootLoaderLeave(bc);
    }

    if (!WaitForMode(c.link, c.ui, kTalmoProductId, kModeSwitchTimeoutMs)) {
        c.ui.printError("Le TALMO n'est pas revenu en mode normal dans les " +
                        std::to_string(kModeSwitchTimeoutMs / 1000) + " s.");
        return status != kExitOk ? status : (c.link.connected() ? kExitDevice : kExitNoDevice);
    }
    if (std::optional<std::string> version = RunningVersion(c)) {
        c.ui.printLine("Version en service: " + *version);
    } else {
        c.ui.printError(kCommError);
        if (status == kExitOk)
            status = kExitDevice;
    }
    return status;
}

// ------------------------------------------------------------------ pic

int RunPic(CliContext& c, const Options& options) {
    if (!RequireNormalMode(c))
        return kExitDevice;
    auto state = std::make_unique<ProgrammerState>();
    ProgrammerContext pc{c.link, c.ui, *state, nullptr};
    c.ui.setDialogPath(options.file);
    c.ui.setAssumeYes(options.assumeYes);

    switch (options.command) {
    case Command::PicIdentify: {
        ProgrammerShown(pc);
        ProgrammerIdentify(pc);
        c.ui.printLine("PIC: " + state->picName);
        c.ui.printLine("Version: " + state->picVersion);
        if (!state->ident.identified() || c.ui.boxesShown() > 0)
            return kExitDevice;
        return kExitOk;
    }
    case Command::PicRead: {
        // A destination that cannot take the file is found before the read.
        HexOutputCheck output;
        if (!output.check(c.ui, options.file)) {
            c.ui.setStatusText(MessageField, "Sauvegarde: Erreur");
            return kExitFile;
        }
        ProgrammerShown(pc);
        ProgrammerSave(pc);
        c.ui.printLine("PIC: " + state->picName);
        c.ui.printLine("Version: " + state->picVersion);
        if (c.ui.messageText() == kSaveOk)
            return kExitOk;
        if (state->picVersion == kProgrammerProtectedNotice)
            c.ui.printError(std::string(kProgrammerProtectedNotice) + " : rien n'est enregistré.");
        return FailureStatus(c.ui);
    }
    case Command::PicProgram: {
        // A file that cannot be right never reaches the board; one too large
        // for the PIC is refused once the PIC is identified, unless forced.
        auto check = std::make_unique<PicImage>();
        HexFileFacts facts;
        if (LoadPicHex(c.ui, *check, options.file, &facts) != 1 ||
            !ShowFirstRefusal(c.ui, PicFileRefusals(facts))) {
            c.ui.setStatusText(MessageField, "Lecture du fichier: Erreur");
            return kExitFile;
        }
        pc.refuseBeyondPic = !options.force;
        ProgrammerShown(pc);
        ProgrammerProgram(pc);
        if (c.ui.messageText() == kProgramPicOk)
            return kExitOk;
        return FailureStatus(c.ui);
    }
    default:
        return kExitUsage;
    }
}

} // namespace talmo::cli
