#include "cli/sim_session.h"

#include "core/quiet_ui.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"
#include "sim/board_firmware.h"
#include "updater/firmware_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/file.h>
#include <unistd.h>

namespace talmo::cli {

namespace fs = std::filesystem;

// The emulator answers at once; a folder may ask it to take its time, as a
// real device does, so that a job can be caught in its middle.
class PacedBackend final : public HidBackend {
public:
    PacedBackend(HidBackend& inner, const long long& paceUs) : inner_(inner), paceUs_(paceUs) {}
    std::vector<HidInterfaceInfo> enumerate() override { return inner_.enumerate(); }
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenError* error) override {
        std::unique_ptr<HidHandle> handle = inner_.open(path, error);
        if (!handle)
            return nullptr;
        return std::make_unique<Handle>(std::move(handle), paceUs_);
    }
    bool startEvents() override { return inner_.startEvents(); }
    int eventFd() const override { return inner_.eventFd(); }
    std::vector<HidDeviceEvent> takeEvents() override { return inner_.takeEvents(); }

private:
    class Handle final : public HidHandle {
    public:
        Handle(std::unique_ptr<HidHandle> inner, const long long& paceUs)
            : inner_(std::move(inner)), paceUs_(paceUs) {}
        int write(const std::uint8_t* buf, std::size_t len) override {
            if (paceUs_ > 0)
                usleep(static_cast<useconds_t>(paceUs_));
            return inner_->write(buf, len);
        }
        int read(std::uint8_t* buf, std::size_t len, int timeoutMs) override {
            return inner_->read(buf, len, timeoutMs);
        }

    private:
        std::unique_ptr<HidHandle> inner_;
        const long long& paceUs_;
    };
    HidBackend& inner_;
    const long long& paceUs_;
};

namespace {

constexpr char kStateFile[] = "state.txt";
constexpr char kFirmwareFile[] = "firmware.hex";
constexpr char kPicFile[] = "pic.hex";
constexpr char kLogFile[] = "exchanges.log";
constexpr char kLockFile[] = ".lock";
constexpr int kStateFormat = 1;

// The first message box a quiet reader or writer showed.
std::string FirstBox(const QuietUi& ui) {
    return ui.shownBox() ? ui.firstBox() : std::string("erreur inconnue");
}

bool ReadStateFile(const std::string& path, std::map<std::string, std::string>* values,
                   std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error =
            std::string("impossible de lire ") + kStateFile + " (" + std::strerror(errno) + ")";
        return false;
    }
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        std::string s = line;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        if (s.empty() || s[0] == '#')
            continue;
        const std::size_t eq = s.find('=');
        if (eq == std::string::npos) {
            std::fclose(f);
            *error = std::string(kStateFile) + " : ligne illisible « " + s + " »";
            return false;
        }
        (*values)[s.substr(0, eq)] = s.substr(eq + 1);
    }
    std::fclose(f);
    return true;
}

bool ParseNumber(const std::string& text, long long min, long long max, long long* out) {
    if (text.empty() || text.size() > 18)
        return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool Replace(const std::string& tmp, const std::string& final, std::string* error) {
    std::error_code ec;
    fs::rename(tmp, final, ec);
    if (ec) {
        *error = "impossible de remplacer " + final + " (" + ec.message() + ")";
        return false;
    }
    return true;
}

} // namespace

std::optional<sim::PicChip> ParsePicName(const std::string& name) {
    return sim::PicChipByName(name);
}

SimSession::SimSession()
    : usb_(std::make_unique<sim::VirtualUsb>(clock_)),
      backend_(std::make_unique<sim::SimBackend>(*usb_)),
      paced_(std::make_unique<PacedBackend>(*backend_, paceUs_)) {}

SimSession::~SimSession() {
    if (device_)
        device_->log().stopStreaming();
    if (lockFd_ >= 0)
        ::close(lockFd_); // releases the lock
}

std::string SimSession::path(const char* name) const { return (fs::path(folder_) / name).string(); }

SimSession::OpenResult SimSession::open(const SimRequest& request, std::string* error) {
    folder_ = request.folder;
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec || !fs::is_directory(folder_, ec)) {
        *error = "dossier de simulation " + folder_ + " : impossible de le créer";
        return OpenResult::BadState;
    }
    lockFd_ = ::open(path(kLockFile).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX) != 0) {
        *error = "dossier de simulation " + folder_ + " : impossible de le verrouiller (" +
                 std::strerror(errno) + ")";
        return OpenResult::BadState;
    }

    unplugged_ = std::make_unique<sim::Talmo>();
    if (!fs::exists(path(kStateFile), ec)) {
        if (!newBoard(request, error))
            return OpenResult::BadRequest;
    } else {
        if (!restore(error))
            return OpenResult::BadState;
        // The board's options only make a new folder: refuse a contradiction.
        sim::Pic* pic = unplugged_->pic();
        if (!request.picName.empty()) {
            const std::optional<sim::PicChip> chip = ParsePicName(request.picName);
            if (!chip || !pic || pic->info().chip != *chip) {
                *error = "--sim-pic : le dossier " + folder_ + " contient déjà une carte avec " +
                         (pic ? pic->info().name : "aucun PIC") +
                         " ; --sim-pic ne vaut que pour un nouveau dossier";
                return OpenResult::BadRequest;
            }
        }
        if (request.protectedPic && (!pic || !PicProtected(pic->readBack(sim::Pic::kConfigWord)))) {
            *error = "--sim-protected : le PIC du dossier " + folder_ +
                     " n'est pas protégé ; --sim-protected ne vaut que pour un nouveau dossier";
            return OpenResult::BadRequest;
        }
    }

    sim::Talmo& dev = *unplugged_;
    if (dev.pic())
        dev.pic()->setStrictTiming(true);
    dev.log().setEnabled(false);
    std::string logError;
    if (!dev.log().streamToFile(path(kLogFile), &logError)) {
        *error = "impossible d'ouvrir " + path(kLogFile) + " en écriture";
        return OpenResult::BadState;
    }
    device_ = unplugged_.get();
    backend_->plug(std::move(unplugged_));
    return OpenResult::Ok;
}

bool SimSession::newBoard(const SimRequest& request, std::string* error) {
    sim::PicChip chip = kDefaultSimChip;
    if (!request.picName.empty()) {
        const std::optional<sim::PicChip> parsed = ParsePicName(request.picName);
        if (!parsed) {
            *error = "--sim-pic : PIC inconnu « " + request.picName +
                     " » (PIC16F873, PIC16F874, PIC16F876, PIC16F877 ou leurs variantes A)";
            return false;
        }
        chip = *parsed;
    }
    sim::Pic pic(chip, kSimPicRevision);
    sim::LoadBoardFirmware(pic);
    if (request.protectedPic)
        pic.setConfigWord(static_cast<std::uint16_t>(pic.configWord() & ~kProtectionMask));
    unplugged_->setPic(pic);
    return true;
}

bool SimSession::restore(std::string* error) {
    std::map<std::string, std::string> v;
    if (!ReadStateFile(path(kStateFile), &v, error))
        return false;
    const auto bad = [&](const std::string& what) {
        *error = std::string(kStateFile) + " : " + what;
        return false;
    };
    long long number = 0;
    if (!ParseNumber(v["format"], kStateFormat, kStateFormat, &number))
        return bad("format inconnu");
    long long clockUs = 0;
    if (!ParseNumber(v["clock_us"], 0, (1LL << 62), &clockUs))
        return bad("clock_us illisible");
    if (!v["pace_us"].empty() && !ParseNumber(v["pace_us"], 0, 1000000, &paceUs_))
        return bad("pace_us illisible");
    const std::string mode = v["mode"];
    if (mode != "normal" && mode != "bootloader")
        return bad("mode illisible");
    // A TALMO that cannot be opened, on request: "open_error=busy" (another
    // program holds it) or "open_error=denied" (no permission), kept.
    openError_ = v["open_error"];
    if (!openError_.empty() && openError_ != "busy" && openError_ != "denied")
        return bad("open_error illisible");
    if (!openError_.empty()) {
        const HidOpenError error =
            openError_ == "busy" ? HidOpenError::Busy : HidOpenError::PermissionDenied;
        backend_->controls.openFault = [error](const std::string&, int) { return error; };
    }

    if (!restoreFirmware(error))
        return false;
    if (v["pic"] == "none")
        unplugged_->removePic();
    else if (!restorePic(v, error))
        return false;
    unplugged_->setMode(mode == "normal" ? sim::Talmo::Mode::Normal : sim::Talmo::Mode::BootLoader);
    clock_.advanceUs(clockUs);
    return true;
}

bool SimSession::restoreFirmware(std::string* error) {
    sim::Talmo& dev = *unplugged_;
    VirtualClock quietClock;
    QuietUi quiet(quietClock);
    auto firmwareBlock = std::make_unique<FirmwareImage>(); // 32 KB: kept off the stack
    FirmwareImage& firmware = *firmwareBlock;
    if (!LoadFirmwareHex(quiet, firmware, path(kFirmwareFile))) {
        *error = std::string(kFirmwareFile) + " : " + FirstBox(quiet);
        return false;
    }
    dev.setFlashBytes(kFirmwareAppStart,
                      std::vector<std::uint8_t>(firmware.cells.begin() + kFirmwareAppStart,
                                                firmware.cells.end()));
    for (std::uint32_t e = 0; e < kFirmwareEepromSize; ++e)
        dev.setEepromByte(e, firmware.cells[e]);
    return true;
}

bool SimSession::restorePic(std::map<std::string, std::string>& v, std::string* error) {
    const auto bad = [&](const std::string& what) {
        *error = std::string(kStateFile) + " : " + what;
        return false;
    };
    VirtualClock quietClock;
    QuietUi quiet(quietClock);
    const std::optional<sim::PicChip> chip = ParsePicName(v["pic"]);
    if (!chip)
        return bad("PIC inconnu « " + v["pic"] + " »");
    long long revision = 0;
    if (!ParseNumber(v["revision"], 0, 31, &revision))
        return bad("révision illisible");
    sim::Pic pic(*chip, static_cast<unsigned>(revision));
    auto imageBlock = std::make_unique<PicImage>(); // 35 KB: kept off the stack
    PicImage& image = *imageBlock;
    if (!LoadPicHex(quiet, image, path(kPicFile))) {
        *error = std::string(kPicFile) + " : " + FirstBox(quiet);
        return false;
    }
    const sim::PicChipInfo& info = pic.info();
    for (std::uint32_t a = 0; a < info.programWords; ++a)
        pic.setCell(a, static_cast<std::uint16_t>(image.entries[a]));
    for (std::uint32_t a = kPicIdAddress; a < kPicIdAddress + 4; ++a)
        pic.setCell(a, static_cast<std::uint16_t>(image.entries[a]));
    pic.setCell(kPicConfigAddress, static_cast<std::uint16_t>(image.entries[kPicConfigAddress]));
    for (std::uint32_t e = 0; e < info.eepromBytes; ++e)
        pic.setCell(kPicEepromAddress + e,
                    static_cast<std::uint16_t>(image.entries[kPicEepromAddress + e]));
    // A worn cell, on request: "stuck=ADDRESS:BIT:VALUE", hexadecimal
    // address, kept from one command to the next.
    stuck_ = v["stuck"];
    if (!stuck_.empty()) {
        unsigned address = 0, bit = 0, value = 0;
        char end = 0;
        if (std::sscanf(stuck_.c_str(), "%x:%u:%u%c", &address, &bit, &value, &end) != 3 ||
            bit > 15 || value > 1)
            return bad("stuck illisible");
        pic.stickBit(address, bit, value == 1);
    }
    unplugged_->setPic(pic);
    return true;
}

bool SimSession::save(std::string* error) {
    if (!device_) {
        *error = "aucun TALMO virtuel";
        return false;
    }
    return saveMemories(error) && saveState(error);
}

bool SimSession::saveMemories(std::string* error) {
    sim::Talmo& dev = *device_;
    VirtualClock quietClock;
    QuietUi quiet(quietClock);

    // The HEX writer puts each file in place only once it is whole.
    {
        FirmwareHexWriter writer(quiet);
        bool ok = writer.create(path(kFirmwareFile));
        for (std::uint32_t a = kFirmwareAppStart; ok && a < kFirmwareImageSize; ++a)
            ok = writer.addByte(dev.flashByte(a));
        for (std::uint32_t e = 0; ok && e < kFirmwareEepromSize; ++e)
            ok = writer.addByte(dev.eepromByte(e));
        if (!ok || !writer.finish()) {
            *error = std::string(kFirmwareFile) + " : " + FirstBox(quiet);
            return false;
        }
    }

    const sim::Pic* pic = dev.pic();
    if (pic) {
        auto imageBlock = std::make_unique<PicImage>();
        PicImage& image = *imageBlock;
        for (std::uint32_t a = 0; a < kPicImageSize; ++a)
            image.entries[a] = pic->cell(a);
        if (!SavePicHex(quiet, image, path(kPicFile), static_cast<int>(pic->info().programWords),
                        static_cast<int>(pic->info().eepromBytes))) {
            *error = std::string(kPicFile) + " : " + FirstBox(quiet);
            return false;
        }
    }
    return true;
}

bool SimSession::saveState(std::string* error) {
    sim::Talmo& dev = *device_;
    const sim::Pic* pic = dev.pic();
    const std::string stateTmp = path(kStateFile) + ".tmp";
    std::FILE* f = std::fopen(stateTmp.c_str(), "wb");
    if (!f) {
        *error = "impossible d'écrire " + stateTmp;
        return false;
    }
    std::fprintf(f, "# Virtual TALMO of talmo-cli --simulate; memories in %s and %s\n",
                 kFirmwareFile, kPicFile);
    std::fprintf(f, "format=%d\n", kStateFormat);
    std::fprintf(f, "mode=%s\n", dev.mode() == sim::Talmo::Mode::Normal ? "normal" : "bootloader");
    if (pic) {
        std::fprintf(f, "pic=%s\n", pic->info().name);
        std::fprintf(f, "revision=%u\n", static_cast<unsigned>(pic->deviceId() & 0x1F));
        if (!stuck_.empty())
            std::fprintf(f, "stuck=%s\n", stuck_.c_str());
    } else {
        std::fprintf(f, "pic=none\n");
    }
    std::fprintf(f, "clock_us=%lld\n", static_cast<long long>(clock_.nowUs()));
    if (paceUs_ > 0)
        std::fprintf(f, "pace_us=%lld\n", paceUs_);
    if (!openError_.empty())
        std::fprintf(f, "open_error=%s\n", openError_.c_str());
    const bool written = std::fflush(f) == 0 && std::ferror(f) == 0 && ::fsync(fileno(f)) == 0;
    if (std::fclose(f) != 0 || !written || !Replace(stateTmp, path(kStateFile), error)) {
        if (error->empty())
            *error = "impossible d'écrire " + stateTmp;
        ::unlink(stateTmp.c_str());
        return false;
    }
    return true;
}

} // namespace talmo::cli
