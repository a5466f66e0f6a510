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

JobOutcome CommError(CliContext& c) {
    c.ui.printError(kCommError);
    return Outcome(JobEnd::NoAnswer);
}

// After a wait for the device that ran out: it left, or it did not come back.
JobOutcome NotBack(const CliContext& c) {
    return Outcome(c.link.connected() ? JobEnd::NoAnswer : JobEnd::NoDevice);
}

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

// Shows every refusal in a box captioned "Erreur fichier": true when there was
// none.
bool ShowRefusals(TerminalUi& ui, const std::vector<const char*>& refusals) {
    for (const char* refusal : refusals)
        ui.errorBox(refusal, kHexReadCaption);
    return refusals.empty();
}

JobOutcome Checked(bool programmable) {
    return programmable ? JobOutcome{} : Outcome(JobEnd::FileRefused);
}

void PrintPicSummary(TerminalUi& ui, const PicImage& image) {
    const auto& e = image.entries;
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
    ui.printLine("Mots de programme : " + std::to_string(words) +
                 (words ? " (de " + Hex4(first) + " à " + Hex4(last) + ")" : std::string()));
    ui.printLine("Octets EEPROM : " + std::to_string(eeprom));
    ui.printLine("Mots ID : " + std::to_string(ids));
    ui.printLine("Mot de configuration : " + (e[kPicConfigAddress] == kPicBlankWord
                                                  ? std::string("absent (0x3FFF)")
                                                  : Hex4(e[kPicConfigAddress])));
    // Sized for the largest chip: the window searches the identified PIC's size.
    ui.printLine("Version: " + FindBoardVersion(image, 0x2000));
}

JobOutcome CheckPicFile(TerminalUi& ui, const std::string& file) {
    auto image = std::make_unique<PicImage>();
    HexFileFacts facts;
    if (!LoadPicHex(ui, *image, file, &facts))
        return Outcome(JobEnd::FileRefused);
    const bool programmable = ShowRefusals(ui, PicFileRefusals(facts));
    if (programmable)
        ui.printLine("OK");
    PrintPicSummary(ui, *image);
    return Checked(programmable);
}

JobOutcome CheckFirmwareFile(TerminalUi& ui, const std::string& file) {
    auto image = std::make_unique<FirmwareImage>();
    HexFileFacts facts;
    if (!LoadFirmwareHex(ui, *image, file, &facts))
        return Outcome(JobEnd::FileRefused);
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
    return Checked(programmable);
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
                opened = OpenDevice(link) || opened;
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

JobOutcome RunHexCheck(CliContext& c, const Options& options) {
    return options.has(kOptPic) ? CheckPicFile(c.ui, options.file)
                                : CheckFirmwareFile(c.ui, options.file);
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

JobOutcome StatusInBootLoader(CliContext& c, const Options& options) {
    Report r{};
    const std::optional<std::string> bootLoader = QueryBootLoaderVersion(c.link, r);
    if (!bootLoader)
        return CommError(c);
    const std::string firmware = QueryDeviceFirmwareVersion(c.link, r);
    if (options.has(kOptJson)) {
        c.ui.printData(
            StatusJson("boot loader", JsonString(*bootLoader), JsonString(firmware), "null"));
        return {};
    }
    c.ui.printLine("Mode : boot loader");
    c.ui.printLine("Boot Loader Version: " + *bootLoader);
    c.ui.printLine("Version: " + firmware);
    return {};
}

JobOutcome ReportTooOld(CliContext& c, const Options& options, const MachineStatus& start) {
    if (options.has(kOptJson)) {
        c.ui.printData(StatusJson("normal", "null", JsonString(*start.version), "true"));
    } else {
        c.ui.printLine("Version: " + *start.version);
        c.ui.printError(TooOldMessage() +
                        "\nLe TALMO n'a pas été touché ; « talmo-cli firmware program "
                        "FICHIER » le met à jour.");
    }
    return Outcome(JobEnd::TooOld);
}

// The first status answer, a few times asked: false when none came.
bool FirstPoll(CliContext& c, Report& buffer, StatusCache& cache, StatusView& view) {
    for (int attempt = 0; attempt < kPollAttempts; ++attempt) {
        if (attempt > 0)
            c.ui.waitMs(kPollPeriodMs);
        if (PollStatus(c.link, buffer, cache) != PollOutcome::NoAnswer) {
            view.apply(DecodeStatus(cache.bytes));
            return true;
        }
    }
    return false;
}

// `status --watch`: the lines again whenever the status changes, until
// interrupted or the device leaves its normal mode.
JobOutcome WatchStatus(CliContext& c, Report& buffer, StatusCache& cache, StatusView& view) {
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
                return NotBack(c);
            }
        }
    }
    return {};
}

} // namespace

JobOutcome RunStatus(CliContext& c, const Options& options) {
    if (c.link.productId != kTalmoProductId)
        return StatusInBootLoader(c, options);
    Report buffer{};
    StatusCache cache;
    // A read-only command: too old a firmware is reported, never acted on.
    const MachineStatus start = RunStartSequence(c.link, buffer, cache, c.ui, {}, false);
    if (!start.version)
        return CommError(c);
    if (start.tooOld)
        return ReportTooOld(c, options, start);
    StatusView view;
    // A lost answer is not a fact about the device.
    if (!start.flash || !start.table || !FirstPoll(c, buffer, cache, view))
        return CommError(c);
    if (options.has(kOptJson)) {
        std::vector<std::pair<std::string, std::string>> state;
        for (const StatusField& f : view.fields())
            state.emplace_back(f.key, JsonString(f.value));
        c.ui.printData(StatusJson("normal", "null", JsonString(*start.version), "false",
                                  FlashJson(start), TableJson(start), JsonObject(state)));
        return {};
    }
    for (const std::string& line : StartLines(start))
        c.ui.printLine(line);
    c.ui.printBlock(view.lines());
    return options.has(kOptWatch) ? WatchStatus(c, buffer, cache, view) : JobOutcome{};
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

JobOutcome ShowRunningVersion(CliContext& c) {
    if (std::optional<std::string> version = RunningVersion(c)) {
        c.ui.printLine("Version en service : " + *version);
        return {};
    }
    return CommError(c);
}

// The device against the image, read back through the boot loader.
JobOutcome VerifyFirmware(CliContext& c, const FirmwareImage& expected) {
    auto device = std::make_unique<FirmwareImage>();
    if (!ReadFirmware(c.link, c.ui, *device))
        return Outcome(JobEnd::NoAnswer);
    const FirmwareComparison d = CompareFirmwareImages(expected, *device);
    if (d.differences == 0) {
        c.ui.printLine("Vérification : OK");
        return {};
    }
    char text[128];
    std::snprintf(text, sizeof text,
                  "Vérification : différence à 0x%04X (fichier 0x%02X, TALMO 0x%02X), %u octet%s "
                  "différent%s",
                  static_cast<unsigned>(d.address), d.expected, d.got,
                  static_cast<unsigned>(d.differences), d.differences > 1 ? "s" : "",
                  d.differences > 1 ? "s" : "");
    c.ui.printError(text);
    return {JobEnd::Difference, nullptr, d.address, d.differences};
}

// Reads the file to program or to compare with; a file that cannot be right
// never sends the device anywhere. `content`: the refusals of what the file
// holds too (a firmware to program, unless forced).
JobOutcome LoadFirmwareFile(CliContext& c, const std::string& file, FirmwareImage& image,
                            bool content) {
    HexFileFacts facts;
    bool accepted = LoadFirmwareHex(c.ui, image, file, &facts);
    if (accepted) {
        std::vector<const char*> refusals = FirmwareFileRefusals(facts);
        if (content && refusals.empty())
            refusals = FirmwareContentRefusals(image);
        if (!refusals.empty())
            c.ui.errorBox(refusals.front(), kHexReadCaption);
        accepted = refusals.empty();
    }
    if (accepted)
        return {};
    c.ui.setStatusText(MessageField, "Lecture du fichier: Erreur");
    return Outcome(JobEnd::FileRefused);
}

// Shows the file's version (and the running one, when asked) and asks.
JobOutcome ConfirmFirmware(CliContext& c, const Options& options, const FirmwareImage& image) {
    const std::string fileVersion = ImageVersionText(image);
    c.ui.printLine("Version du fichier : " + fileVersion);
    if (!options.has(kOptYes)) {
        // The question shows what runs now; with --yes nothing is asked,
        // so nothing more is read.
        Report r{};
        const std::optional<std::string> running = c.link.productId == kTalmoProductId
                                                       ? RunningVersion(c)
                                                       : QueryDeviceFirmwareVersion(c.link, r);
        c.ui.printLine("Version en service : " + running.value_or("Inconnue"));
    }
    c.ui.setAssumeYes(options.has(kOptYes));
    if (c.ui.messageBox("Programmer cette version ?\n" + fileVersion, "Programmation",
                        Icon::Question, Buttons::YesNo) == Answer::Yes)
        return {};
    c.ui.setStatusText(MessageField, "Programmation: annulée");
    return Outcome(JobEnd::Cancelled);
}

JobOutcome EnterBootLoader(CliContext& c) {
    if (c.link.productId != kTalmoProductId)
        return {};
    Report jump{};
    JumpToBootLoader(c.link, jump);
    if (WaitForMode(c.link, c.ui, kBootLoaderProductId, kModeSwitchTimeoutMs, false, c.forced))
        return {};
    c.ui.printError("Le TALMO n'est pas revenu en mode boot loader dans les " +
                    std::to_string(kModeSwitchTimeoutMs / 1000) + " s.");
    return NotBack(c);
}

// The boot-loader page's work on the device, its versions shown.
struct BootLoaderSession {
    BootLoaderSession(CliContext& c, const std::string& file)
        : firmwarePath(file), bc{c.link, c.ui, *image, firmwarePath, savePath, fields, report} {
        bc.programErrorCaption = ""; // its text says it is an error
        BootLoaderShown(bc, false);
        c.ui.printLine("Boot Loader Version: " + fields.bootLoaderVersion);
        c.ui.printLine("Version: " + fields.deviceVersion);
    }
    std::unique_ptr<FirmwareImage> image = std::make_unique<FirmwareImage>();
    std::string firmwarePath, savePath;
    BootLoaderFields fields;
    Report report{};
    BootLoaderContext bc;
};

// A job in the boot loader that leaves the firmware as it was: back to
// normal mode whatever it found, and the running version shown.
JobOutcome ThenBackToNormal(CliContext& c, BootLoaderSession& session, JobOutcome outcome) {
    BootLoaderLeave(session.bc);
    if (!BackToNormalMode(c))
        return outcome.done() ? NotBack(c) : outcome;
    const JobOutcome shown = ShowRunningVersion(c);
    return outcome.done() ? shown : outcome;
}

} // namespace

JobOutcome RunFirmwareSave(CliContext& c, const Options& options) {
    // A destination that cannot take the save never sends the device anywhere.
    HexOutputCheck output;
    if (!output.check(c.ui, options.file)) {
        c.ui.setStatusText(MessageField, "Sauvegarde: Erreur");
        return Outcome(JobEnd::FileNotWritten, kHexCannotCreate);
    }
    if (const JobOutcome entered = EnterBootLoader(c); !entered.done())
        return entered;
    BootLoaderSession session(c, options.file);
    c.ui.setDialogPath(options.file);
    return ThenBackToNormal(c, session, BootLoaderSave(session.bc));
}

JobOutcome RunFirmwareVerify(CliContext& c, const Options& options) {
    auto expected = std::make_unique<FirmwareImage>();
    if (const JobOutcome loaded = LoadFirmwareFile(c, options.file, *expected, false);
        !loaded.done())
        return loaded;
    if (const JobOutcome entered = EnterBootLoader(c); !entered.done())
        return entered;
    BootLoaderSession session(c, options.file);
    return ThenBackToNormal(c, session, VerifyFirmware(c, *expected));
}

JobOutcome RunFirmwareProgram(CliContext& c, const Options& options) {
    auto expected = std::make_unique<FirmwareImage>();
    JobOutcome outcome = LoadFirmwareFile(c, options.file, *expected, !options.has(kOptForce));
    if (outcome.done())
        outcome = ConfirmFirmware(c, options, *expected);
    if (outcome.done())
        outcome = EnterBootLoader(c);
    if (!outcome.done())
        return outcome;
    BootLoaderSession session(c, options.file);
    std::function<JobOutcome()> verify;
    if (!options.has(kOptNoVerify))
        verify = [&] { return VerifyFirmware(c, *expected); };
    if (const JobOutcome updated = BootLoaderAutoUpdate(session.bc, verify); !updated.done()) {
        c.ui.printError("Le TALMO reste dans son boot loader ; la commande peut être relancée.");
        return updated;
    }
    if (!BackToNormalMode(c))
        return NotBack(c);
    return ShowRunningVersion(c);
}

JobOutcome RunFirmwareLeave(CliContext& c, const Options&) {
    if (c.link.productId == kTalmoProductId) {
        c.ui.printLine("Le TALMO est déjà en mode normal.");
        return ShowRunningVersion(c);
    }
    Report r{};
    LeaveBootLoader(c.link, r);
    return BackToNormalMode(c) ? ShowRunningVersion(c) : NotBack(c);
}

// ------------------------------------------------------------------ pic

namespace {

void PrintPic(CliContext& c, const ProgrammerState& state) {
    c.ui.printLine("PIC: " + state.picName);
    c.ui.printLine("Version: " + state.picVersion);
}

void IdentifyJson(CliContext& c, const ProgrammerState& s) {
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
}

// The programmer page's state for one command, in normal mode only.
struct PicSession {
    PicSession(CliContext& c, const Options& options) : pc{c.link, c.ui, *state, nullptr} {
        pc.programErrorCaption = ""; // its text says it is an error
        c.ui.setDialogPath(options.file);
        c.ui.setAssumeYes(options.has(kOptYes));
    }
    std::unique_ptr<ProgrammerState> state = std::make_unique<ProgrammerState>();
    ProgrammerContext pc;
};

// Identifies and reads the PIC for a comparison: Done when the whole PIC
// was read; Protected (said) or NoAnswer otherwise.
JobOutcome ReadForComparison(CliContext& c, ProgrammerContext& pc) {
    ProgrammerShown(pc);
    const JobOutcome identified = ProgrammerIdentify(pc);
    PrintPic(c, pc.state);
    if (identified.end == JobEnd::Protected)
        c.ui.printError(std::string(kProgrammerProtectedNotice) + " : il ne peut pas être relu.");
    return identified;
}

JobOutcome ReportComparison(CliContext& c, const PicComparison& d, bool blank) {
    if (d.differences == 0) {
        c.ui.printLine(blank ? "PIC vierge" : "Vérification : OK");
        return {};
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
    return {JobEnd::Difference, nullptr, d.address, d.differences};
}

// The PIC against `expected` (pic verify), or against a blank PIC.
JobOutcome ComparePic(CliContext& c, const Options& options, bool blank) {
    if (!RequireNormalMode(c))
        return Outcome(JobEnd::WrongMode);
    PicSession s(c, options);
    auto expected = std::make_unique<PicImage>();
    ResetPicImage(*expected);
    if (!blank && !LoadPicHex(c.ui, *expected, options.file))
        return Outcome(JobEnd::FileRefused);
    const JobOutcome read = ReadForComparison(c, s.pc);
    // A protected PIC is not blank, whatever it reads back.
    if (blank && read.end == JobEnd::Protected)
        return Outcome(JobEnd::Difference);
    if (!read.done())
        return read;
    return ReportComparison(c, ComparePicImages(*expected, s.state->image, s.state->ident), blank);
}

} // namespace

JobOutcome RunPicIdentify(CliContext& c, const Options& options) {
    if (!RequireNormalMode(c))
        return Outcome(JobEnd::WrongMode);
    PicSession s(c, options);
    ProgrammerShown(s.pc);
    JobOutcome outcome = ProgrammerIdentify(s.pc);
    if (outcome.end == JobEnd::Protected)
        outcome = {}; // identified: its protection is what it shows
    if (options.has(kOptJson))
        IdentifyJson(c, *s.state);
    else
        PrintPic(c, *s.state);
    return outcome;
}

JobOutcome RunPicRead(CliContext& c, const Options& options) {
    if (!RequireNormalMode(c))
        return Outcome(JobEnd::WrongMode);
    PicSession s(c, options);
    // A destination that cannot take the file is found before the read.
    HexOutputCheck output;
    if (!output.check(c.ui, options.file)) {
        c.ui.setStatusText(MessageField, "Sauvegarde: Erreur");
        return Outcome(JobEnd::FileNotWritten, kHexCannotCreate);
    }
    ProgrammerShown(s.pc);
    const JobOutcome saved = ProgrammerSave(s.pc);
    PrintPic(c, *s.state);
    if (saved.end == JobEnd::Protected)
        c.ui.printError(std::string(kProgrammerProtectedNotice) + " : rien n'est enregistré.");
    return saved;
}

JobOutcome RunPicProgram(CliContext& c, const Options& options) {
    if (!RequireNormalMode(c))
        return Outcome(JobEnd::WrongMode);
    PicSession s(c, options);
    // A file that cannot be right never reaches the board; one too large
    // for the PIC is refused once the PIC is identified, unless forced.
    auto check = std::make_unique<PicImage>();
    HexFileFacts facts;
    bool accepted = LoadPicHex(c.ui, *check, options.file, &facts);
    if (accepted) {
        const std::vector<const char*> refusals = PicFileRefusals(facts);
        if (!refusals.empty())
            c.ui.errorBox(refusals.front(), kHexReadCaption);
        accepted = refusals.empty();
    }
    if (!accepted) {
        c.ui.setStatusText(MessageField, "Lecture du fichier: Erreur");
        return Outcome(JobEnd::FileRefused);
    }
    s.pc.refuseBeyondPic = !options.has(kOptForce);
    ProgrammerShown(s.pc);
    return ProgrammerProgram(s.pc);
}

JobOutcome RunPicVerify(CliContext& c, const Options& options) {
    return ComparePic(c, options, false);
}

JobOutcome RunPicBlankCheck(CliContext& c, const Options& options) {
    return ComparePic(c, options, true);
}

JobOutcome RunPicErase(CliContext& c, const Options& options) {
    if (!RequireNormalMode(c))
        return Outcome(JobEnd::WrongMode);
    PicSession s(c, options);
    ProgrammerShown(s.pc);
    const IdentifyOutcome identified = IdentifyPic(c.link, c.ui, s.state->ident);
    if (!s.state->ident.identified()) {
        c.ui.printError(kProgrammerTypeError);
        return Outcome(JobEnd::NoAnswer);
    }
    c.ui.printLine("PIC: " + identified.picText);
    if (c.ui.messageBox("Effacer tout le PIC ?", kProgrammerConfirmCaption, Icon::Question,
                        Buttons::YesNo) != Answer::Yes) {
        c.ui.printLine("Effacement : annulé"); // identification left programming mode
        return Outcome(JobEnd::Cancelled);
    }
    return ErasePic(c.link, c.ui, s.state->ident) ? JobOutcome{} : Outcome(JobEnd::NoAnswer);
}

} // namespace talmo::cli
