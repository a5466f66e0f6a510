#include "cli/cli_commands.h"

#include "cli/status_view.h"
#include "console/console_commands.h"
#include "console/console_core.h"
#include "core/clock.h"
#include "hex/hex_records.h"
#include "programmer/board_version.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"
#include "programmer/pic_program.h"
#include "programmer/programmer_flow.h"
#include "updater/bootloader_commands.h"
#include "updater/bootloader_flow.h"
#include "updater/firmware_image.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace talmo::cli {

namespace {

constexpr int kPollPeriodMs = 50;
constexpr int kPollAttempts = 3;
constexpr int kVersionAttempts = 3;
constexpr int kVersionRetryMs = 200;
// A TALMO that keeps coming back in its boot loader is told to leave it this
// many times at most.
constexpr int kLeaveAgainTimes = 3;

// The texts that end the long operations successfully.
constexpr char kSaveOk[] = "Sauvegarde: OK";
constexpr char kProgramPicOk[] = "Programmation+Vérification: OK";
constexpr char kProgramCancelled[] = "Programmation: annulée";
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
    ui.printLine("Mots de programme : " + std::to_string(words) +
                 (words ? " (de " + Hex4(first) + " à " + Hex4(last) + ")" : std::string()));
    ui.printLine("Octets EEPROM : " + std::to_string(eeprom));
    ui.printLine("Mots ID : " + std::to_string(ids));
    ui.printLine("Mot de configuration : " + (e[kPicConfigAddress] == kPicBlankWord
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
    ui.printLine("Octets de programme : " + std::to_string(program) + " (zone " +
                 Hex4(kFirmwareAppStart) + " à 0x7FFF)");
    ui.printLine("Octets EEPROM : " + std::to_string(eeprom));
    if (ignored)
        ui.printLine("Octets dans la zone du boot loader, jamais transférés : " +
                     std::to_string(ignored));
    ui.printLine("Version: " + ImageVersionText(*image));
    return programmable ? kExitOk : kExitFile;
}

} // namespace

bool WaitForMode(DeviceLink& link, Ui& ui, std::uint16_t productId, int timeoutMs,
                 bool leaveBootLoader, const volatile std::sig_atomic_t* stop) {
    Clock& clock = ui.clock();
    const std::int64_t start = clock.nowMs();
    int leavesLeft = kLeaveAgainTimes;
    for (;;) {
        bool opened = false; // the link opened a device in this round
        if (link.backend) {
            for (const HidDeviceEvent& event : link.backend->takeEvents()) {
                const bool before = link.connected();
                OnDeviceChange(link, event);
                opened = opened || (!before && link.connected());
            }
            // Without events (or before they come), a device that left is
            // noticed by its absence from the list.
            if (link.connected() && link.productId != productId &&
                !StillPresent(*link.backend, link))
                CloseDevice(link);
            if (!link.connected())
                opened = OpenDevice(link) == 1 || opened;
        }
        if (leaveBootLoader && opened && link.connected() &&
            link.productId == kBootLoaderProductId && leavesLeft-- > 0) {
            Report leave{};
            LeaveBootLoader(link, leave);
        }
        if (link.connected() && link.productId == productId)
            return true;
        if (clock.nowMs() - start >= timeoutMs || (stop && *stop))
            return false;
        ui.waitMs(kPollPeriodMs);
    }
}

std::string DeviceNotice(HidBackend& backend, const DeviceLink& link, int verbosity) {
    int talmos = 0;
    for (const HidInterfaceInfo& info : backend.enumerate())
        talmos += info.vendorId == kTalmoVendorId &&
                  (info.productId == kTalmoProductId || info.productId == kBootLoaderProductId);
    if (talmos > 1)
        return std::to_string(talmos) + " TALMO branchés : emploi de " + link.devicePath +
               " (« --device CHEMIN » pour en choisir un autre).";
    return verbosity > 0 ? "TALMO employé : " + link.devicePath : std::string();
}

int RunHexCheck(TerminalUi& ui, const Options& options) {
    return options.hexKind == HexKind::Pic ? CheckPicFile(ui, options.file)
                                           : CheckFirmwareFile(ui, options.file);
}

// ------------------------------------------------------------------ status

namespace {

// The object of `status --json`; every argument is JSON already.
std::string StatusJson(const char* mode, const std::string& bootLoaderVersion,
                       const std::string& version, const char* tooOld,
                       const std::string& flash = "null", const std::string& table = "null",
                       const std::string& state = "null") {
    return JsonObject({{"mode", JsonString(mode)},
                       {"boot_loader_version", bootLoaderVersion},
                       {"version", version},
                       {"too_old", tooOld},
                       {"flash", flash},
                       {"table", table},
                       {"state", state}});
}

int StatusInBootLoader(CliContext& c, const Options& options) {
    Report r{};
    const std::optional<std::string> bootLoader = QueryBootLoaderVersion(c.link, r);
    if (!bootLoader) {
        c.ui.printError(kCommError);
        return kExitDevice;
    }
    const std::string firmware = QueryDeviceFirmwareVersion(c.link, r);
    if (options.json) {
        c.ui.printData(
            StatusJson("boot loader", JsonString(*bootLoader), JsonString(firmware), "null"));
        return kExitOk;
    }
    c.ui.printLine("Mode : boot loader");
    c.ui.printLine("Boot Loader Version: " + *bootLoader);
    c.ui.printLine("Version: " + firmware);
    return kExitOk;
}

} // namespace

int RunStatus(CliContext& c, const Options& options) {
    if (c.link.productId != kTalmoProductId)
        return StatusInBootLoader(c, options);
    Report buffer{};
    StatusCache cache;
    // A read-only command: too old a firmware is reported, never acted on.
    const StartResult start = RunStartSequence(c.link, buffer, cache, c.ui, {}, false);
    if (!start.version) {
        c.ui.printError(kCommError);
        return kExitDevice;
    }
    if (start.tooOld) {
        if (options.json) {
            c.ui.printData(StatusJson("normal", "null", JsonString(*start.version), "true"));
        } else {
            c.ui.printLine("Version: " + *start.version);
            c.ui.printError(TooOldMessage() +
                            "\nLe TALMO n'a pas été touché ; « talmo-cli firmware program "
                            "FICHIER » le met à jour.");
        }
        return kExitDevice;
    }
    // A lost answer is not a fact about the device.
    if (!start.flash || !start.table) {
        c.ui.printError(kCommError);
        return kExitDevice;
    }

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
    if (options.json) {
        std::vector<std::pair<std::string, std::string>> state;
        for (const StatusField& f : view.fields())
            state.emplace_back(f.key, JsonString(f.value));
        c.ui.printData(StatusJson("normal", "null", JsonString(*start.version), "false",
                                  FlashJson(start), TableJson(start), JsonObject(state)));
        return kExitOk;
    }
    for (const std::string& line : StartLines(start))
        c.ui.printLine(line);
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

namespace {

// After 'Z': waits for the normal mode. A TALMO that comes back in its boot
// loader (unplugged and plugged in again meanwhile) is sent the leave again.
bool BackToNormalMode(CliContext& c) {
    if (WaitForMode(c.link, c.ui, kTalmoProductId, kModeSwitchTimeoutMs, true, c.forced))
        return true;
    c.ui.printError("Le TALMO n'est pas revenu en mode normal dans les " +
                    std::to_string(kModeSwitchTimeoutMs / 1000) + " s.");
    return false;
}

int ShowRunningVersion(CliContext& c) {
    if (std::optional<std::string> version = RunningVersion(c)) {
        c.ui.printLine("Version en service : " + *version);
        return kExitOk;
    }
    c.ui.printError(kCommError);
    return kExitDevice;
}

// The device against the image, read back through the boot loader.
int VerifyFirmware(CliContext& c, const FirmwareImage& expected) {
    auto device = std::make_unique<FirmwareImage>();
    if (!ReadFirmware(c.link, c.ui, *device))
        return kExitDevice;
    const FirmwareComparison d = CompareFirmwareImages(expected, *device);
    if (d.differences == 0) {
        c.ui.printLine("Vérification : OK");
        return kExitOk;
    }
    char text[128];
    std::snprintf(text, sizeof text,
                  "Vérification : différence à 0x%04X (fichier 0x%02X, TALMO 0x%02X), %u octet%s "
                  "différent%s",
                  static_cast<unsigned>(d.address), d.expected, d.got,
                  static_cast<unsigned>(d.differences), d.differences > 1 ? "s" : "",
                  d.differences > 1 ? "s" : "");
    c.ui.printError(text);
    return kExitDifference;
}

} // namespace

int RunFirmware(CliContext& c, const Options& options) {
    const Command command = options.command;
    if (command == Command::FirmwareLeave) {
        if (c.link.productId == kTalmoProductId) {
            c.ui.printLine("Le TALMO est déjà en mode normal.");
            return ShowRunningVersion(c);
        }
        Report r{};
        LeaveBootLoader(c.link, r);
        return BackToNormalMode(c) ? ShowRunningVersion(c)
                                   : (c.link.connected() ? kExitDevice : kExitNoDevice);
    }

    const bool program = command == Command::FirmwareProgram;
    // A file that cannot be right, or a destination that cannot take the
    // save, never sends the device anywhere.
    HexOutputCheck output;
    auto expected = std::make_unique<FirmwareImage>();
    if (program || command == Command::FirmwareVerify) {
        HexFileFacts facts;
        bool accepted = LoadFirmwareHex(c.ui, *expected, options.file, &facts) == 1;
        if (accepted) {
            std::vector<const char*> refusals = FirmwareFileRefusals(facts);
            if (program && refusals.empty() && !options.force)
                refusals = FirmwareContentRefusals(*expected);
            accepted = ShowFirstRefusal(c.ui, refusals);
        }
        if (!accepted) {
            c.ui.setStatusText(MessageField, "Lecture du fichier: Erreur");
            return kExitFile;
        }
    }
    if (program) {
        const std::string fileVersion = ImageVersionText(*expected);
        c.ui.printLine("Version du fichier : " + fileVersion);
        if (!options.assumeYes) {
            // The question shows what runs now; with --yes nothing is asked,
            // so nothing more is read.
            Report r{};
            const std::optional<std::string> running = c.link.productId == kTalmoProductId
                                                           ? RunningVersion(c)
                                                           : QueryDeviceFirmwareVersion(c.link, r);
            c.ui.printLine("Version en service : " + running.value_or("Inconnue"));
        }
        c.ui.setAssumeYes(options.assumeYes);
        if (c.ui.messageBox("Programmer cette version ?\n" + fileVersion, "Programmation",
                            Icon::Question, Buttons::YesNo) != Answer::Yes) {
            c.ui.setStatusText(MessageField, "Programmation: annulée");
            return kExitCancelled;
        }
    } else if (command == Command::FirmwareSave && !output.check(c.ui, options.file)) {
        c.ui.setStatusText(MessageField, "Sauvegarde: Erreur");
        return kExitFile;
    }

    if (c.link.productId == kTalmoProductId) {
        Report jump{};
        JumpToBootLoader(c.link, jump);
        if (!WaitForMode(c.link, c.ui, kBootLoaderProductId, kModeSwitchTimeoutMs, false,
                         c.forced)) {
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
    if (command == Command::FirmwareProgram) {
        int verified = kExitOk;
        std::function<bool()> verify;
        if (!options.noVerify)
            verify = [&] {
                verified = VerifyFirmware(c, *expected);
                return verified == kExitOk;
            };
        if (!BootLoaderAutoUpdate(bc, verify)) {
            c.ui.printError(
                "Le TALMO reste dans son boot loader ; la commande peut être relancée.");
            return verified != kExitOk ? verified : FailureStatus(c.ui);
        }
    } else {
        if (command == Command::FirmwareVerify) {
            status = VerifyFirmware(c, *expected);
        } else {
            c.ui.setDialogPath(options.file);
            BootLoaderSave(bc);
            if (c.ui.messageText() != kSaveOk)
                status = FailureStatus(c.ui);
        }
        // The firmware is untouched whatever was read: back to normal mode.
        BootLoaderLeave(bc);
    }

    if (!BackToNormalMode(c))
        return status != kExitOk ? status : (c.link.connected() ? kExitDevice : kExitNoDevice);
    const int shown = ShowRunningVersion(c);
    return status != kExitOk ? status : shown;
}

// ------------------------------------------------------------------ pic

namespace {

void PrintPic(CliContext& c, const ProgrammerState& state) {
    c.ui.printLine("PIC: " + state.picName);
    c.ui.printLine("Version: " + state.picVersion);
}

int IdentifyJson(CliContext& c, const ProgrammerState& s) {
    const bool identified = s.ident.identified();
    const bool isProtected = identified && PicProtected(s.ident.configWord);
    auto number = [&](std::uint32_t v) { return identified ? std::to_string(v) : "null"; };
    const std::string version =
        s.picVersion == kProgrammerNoText || isProtected ? "null" : JsonString(s.picVersion);
    c.ui.printData(
        JsonObject({{"pic", s.picName == kProgrammerNoText ? "null" : JsonString(s.picName)},
                    {"version", version},
                    {"protected", identified ? (isProtected ? "true" : "false") : "null"},
                    {"program_words", number(s.ident.programSize)},
                    {"eeprom_bytes", number(s.ident.eepromSize)},
                    {"config_word", identified ? JsonString(Hex4(s.ident.configWord)) : "null"}}));
    return identified && c.ui.boxesShown() == 0 ? kExitOk : kExitDevice;
}

// Identifies and reads the PIC for a comparison: false (with the reason
// shown) when it could not be identified, is protected, or was not read whole.
bool ReadForComparison(CliContext& c, ProgrammerContext& pc) {
    ProgrammerShown(pc);
    ProgrammerIdentify(pc);
    PrintPic(c, pc.state);
    if (!pc.state.ident.identified())
        return false;
    if (PicProtected(pc.state.ident.configWord)) {
        c.ui.printError(std::string(kProgrammerProtectedNotice) + " : il ne peut pas être relu.");
        return false;
    }
    return pc.state.imageFromPic;
}

int ReportComparison(CliContext& c, const PicComparison& d, bool blank) {
    if (d.differences == 0) {
        c.ui.printLine(blank ? "PIC vierge" : "Vérification : OK");
        return kExitOk;
    }
    const char* plural = d.differences > 1 ? "s" : "";
    char text[160];
    if (blank)
        std::snprintf(text, sizeof text, "PIC non vierge : 0x%04X vaut 0x%04X, %u mot%s écrit%s",
                      static_cast<unsigned>(d.address), static_cast<unsigned>(d.got),
                      static_cast<unsigned>(d.differences), plural, plural);
    else
        std::snprintf(text, sizeof text,
                      "Vérification : différence à 0x%04X (fichier 0x%04X, PIC 0x%04X), "
                      "%u mot%s différent%s",
                      static_cast<unsigned>(d.address), static_cast<unsigned>(d.expected),
                      static_cast<unsigned>(d.got), static_cast<unsigned>(d.differences), plural,
                      plural);
    c.ui.printError(text);
    return kExitDifference;
}

} // namespace

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
        if (options.json)
            return IdentifyJson(c, *state);
        PrintPic(c, *state);
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
        PrintPic(c, *state);
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
        if (c.ui.messageText() == kProgramCancelled)
            return kExitCancelled;
        return FailureStatus(c.ui);
    }
    case Command::PicVerify:
    case Command::PicBlankCheck: {
        const bool blank = options.command == Command::PicBlankCheck;
        auto expected = std::make_unique<PicImage>();
        ResetPicImage(*expected);
        if (!blank && LoadPicHex(c.ui, *expected, options.file) != 1)
            return kExitFile;
        if (!ReadForComparison(c, pc)) {
            // A protected PIC is not blank, whatever it reads back.
            if (blank && state->ident.identified() && PicProtected(state->ident.configWord))
                return kExitDifference;
            return kExitDevice;
        }
        return ReportComparison(c, ComparePicImages(*expected, state->image, state->ident), blank);
    }
    case Command::PicErase: {
        ProgrammerShown(pc);
        const IdentifyOutcome identified = IdentifyPic(c.link, c.ui, state->ident);
        if (!state->ident.identified()) {
            c.ui.printError(kProgrammerTypeError);
            return kExitDevice;
        }
        c.ui.printLine("PIC: " + identified.picText);
        if (c.ui.messageBox("Effacer tout le PIC ?", kProgrammerConfirmCaption, Icon::Question,
                            Buttons::YesNo) != Answer::Yes) {
            c.ui.printLine("Effacement : annulé"); // identification left programming mode
            return kExitCancelled;
        }
        return ErasePic(c.link, c.ui, state->ident) == 1 ? kExitOk : kExitDevice;
    }
    default:
        return kExitUsage;
    }
}

} // namespace talmo::cli
