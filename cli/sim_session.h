// talmo-cli --simulate DOSSIER: one virtual TALMO on the emulator's bus whose
// state outlives the command, kept in the folder:
//
//   state.txt      mode (normal or boot loader), the board's PIC and its
//                  revision, the virtual clock, and optionally a stuck bit
//                  of the PIC ("stuck=ADDRESS:BIT:VALUE") and a real time
//                  that each report takes ("pace_us=N"), and a TALMO that
//                  cannot be opened ("open_error=busy" or "denied"), for tests
//   firmware.hex   the device's application area and EEPROM, as the firmware
//                  save writes them
//   pic.hex        the PIC's program memory, EEPROM, ID words and
//                  configuration word (protection included), raw cells, as
//                  a PIC save writes them
//   exchanges.log  every exchange, appended, one line each in the
//                  emulator's log format
//   .lock          held while a command works on the folder
//
// Time runs on a virtual clock, kept in state.txt, so that programming runs
// at once while the emulator still checks every wait against the PIC's
// cycle times, and the log's times keep rising from one command to the next.
#pragma once

#include "core/clock.h"
#include "sim/sim_backend.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace talmo::cli {

struct SimRequest {
    std::string folder;
    std::string picName; // for a new folder; empty: the default chip
    bool protectedPic = false;
};

// The chip for a name such as "PIC16F877A" or "16f873" (any letter case).
std::optional<sim::PicChip> ParsePicName(const std::string& name);
constexpr sim::PicChip kDefaultSimChip = sim::PicChip::F877A;
constexpr unsigned kSimPicRevision = 4;

class SimSession {
public:
    SimSession();
    ~SimSession();
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;

    enum class OpenResult {
        Ok,
        BadRequest,
        BadState
    };
    // Locks the folder (made when missing), restores its state or makes a new
    // board, plugs the device in and starts its exchange log. On failure
    // `error` says why, in French.
    OpenResult open(const SimRequest& request, std::string* error);
    // Writes the state back (each file whole, then renamed into place).
    bool save(std::string* error);

    Clock& clock() { return clock_; }
    // The virtual TALMO's HID services (at the folder's pace, if it has one).
    HidBackend& backend() { return *paced_; }

private:
    bool restore(std::string* error);
    bool restoreFirmware(std::string* error);
    bool restorePic(std::map<std::string, std::string>& state, std::string* error);
    bool saveMemories(std::string* error);
    bool saveState(std::string* error);
    bool newBoard(const SimRequest& request, std::string* error);
    std::string path(const char* name) const;

    VirtualClock clock_;
    long long paceUs_ = 0; // state.txt's "pace_us": real time each report takes
    std::unique_ptr<sim::VirtualUsb> usb_;
    std::unique_ptr<sim::SimBackend> backend_;
    std::unique_ptr<HidBackend> paced_;
    sim::Talmo* device_ = nullptr;
    std::unique_ptr<sim::Talmo> unplugged_;
    std::string folder_;
    std::string stuck_;     // state.txt's "stuck" entry, kept as it was
    std::string openError_; // state.txt's "open_error" entry, kept as it was
    int lockFd_ = -1;
};

} // namespace talmo::cli
