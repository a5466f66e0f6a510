#include "web/page_numbers.h"

#include "console/console_core.h"
#include "core/page_controls.h"
#include "core/picture_ids.h"
#include "link/device_link.h"
#include "programmer/programmer_flow.h"
#include "updater/bootloader_flow.h"
#include "web/web_app.h"

namespace talmo {

namespace {

constexpr PageKind kPages[] = {PageKind::BootLoader, PageKind::Console, PageKind::Waiting,
                               PageKind::Programmer};

constexpr NamedControl kFooter[] = {
    {"icon", kFooterIconControl},
    {"webSiteButton", kWebSiteButton},
    {"version", kVersionControl},
};

constexpr NamedControl kWaiting[] = {
    {"progressBar", kWaitingProgressBar},
};

constexpr NamedControl kConsole[] = {
    {"inputLevel2Slider", kCtlInputLevel2Slider},
    {"inputLevelSlider", kCtlInputLevelSlider},
    {"outputLevelSlider", kCtlOutputLevelSlider},
    {"inputLevel2Edit", kCtlInputLevel2Edit},
    {"inputLevelEdit", kCtlInputLevelEdit},
    {"inputModePicture", kCtlInputModePicture},
    {"outputSwitchPicture", kCtlOutputSwitchPicture},
    {"outputLevelEdit", kCtlOutputLevelEdit},
    {"startProtectText", kCtlStartProtectText},
    {"versionText", kCtlVersionText},
    {"stopPicture", kCtlStopPicture},
    {"pwmMaxText", kCtlPwmMaxText},
    {"motorButton", kCtlMotorButton},
    {"io1Text", kCtlIo1Text},
    {"keyUp", kCtlKeyUp},
    {"keyEsc", kCtlKeyEsc},
    {"lcdTestButton", kCtlLcdTestButton},
    {"keyRight", kCtlKeyRight},
    {"keyLeft", kCtlKeyLeft},
    {"keyDown", kCtlKeyDown},
    {"flashMakerText", kCtlFlashMakerText},
    {"keyOk", kCtlKeyOk},
    {"updateButton", kCtlUpdateButton},
    {"flashTypeText", kCtlFlashTypeText},
    {"flashSizeText", kCtlFlashSizeText},
    {"flashFilesText", kCtlFlashFilesText},
    {"flashDetailsButton", kCtlFlashDetailsButton},
    {"flashProtectText", kCtlFlashProtectText},
    {"axesText", kCtlAxesText},
    {"tableText", kCtlTableText},
    {"limitSwitchPicture", kCtlLimitSwitchPicture},
    {"probePicture", kCtlProbePicture},
    {"accelText", kCtlAccelText},
    {"frequencyText", kCtlFrequencyText},
    {"contactsText", kCtlContactsText},
    {"movesButton", kCtlMovesButton},
    {"programmerButton", kCtlProgrammerButton},
    {"autoOnOffText", kCtlAutoOnOffText},
    {"autoBox", kCtlAutoBox},
    {"signalInvertedBox", kCtlSignalInvertedBox},
    {"keypadMissingText", kCtlKeypadMissingText},
};

constexpr NamedControl kProgrammer[] = {
    {"identifyButton", kProgrammerIdentifyButton},
    {"backButton", kProgrammerBackButton},
    {"saveButton", kProgrammerSaveButton},
    {"programButton", kProgrammerProgramButton},
    {"picName", kProgrammerPicName},
    {"picVersion", kProgrammerPicVersion},
    {"fileVersion", kProgrammerFileVersion},
};

constexpr NamedControl kBootLoader[] = {
    {"versionText", kBootLoaderVersionText},     {"saveButton", kBootLoaderSaveButton},
    {"deviceVersion", kBootLoaderDeviceVersion}, {"programButton", kBootLoaderProgramButton},
    {"fileVersion", kBootLoaderFileVersion},     {"leaveButton", kBootLoaderLeaveButton},
};

// Names and files are plain ASCII words: quoted as they are.
std::string quoted(const char* s) { return '"' + std::string(s) + '"'; }

// Adds an item to a list separated by commas, or a member `"name":value`.
void Item(std::string& list, const std::string& item) {
    if (!list.empty())
        list += ',';
    list += item;
}
void Member(std::string& list, const std::string& name, const std::string& value) {
    Item(list, name + ":" + value);
}

std::string object(std::span<const NamedControl> controls) {
    std::string out;
    for (const NamedControl& c : controls)
        Member(out, quoted(c.name), std::to_string(c.id));
    return "{" + out + "}";
}

} // namespace

std::span<const NamedControl> PageControls(PageKind page) {
    switch (page) {
    case PageKind::BootLoader:
        return kBootLoader;
    case PageKind::Console:
        return kConsole;
    case PageKind::Waiting:
        return kWaiting;
    case PageKind::Programmer:
        return kProgrammer;
    }
    return {};
}

std::span<const NamedControl> FooterControls() { return kFooter; }

std::string PageNumbersJson() {
    std::string pages, controls, pictures;
    for (const PageKind page : kPages) {
        const std::string name = quoted(PageName(page));
        Member(pages, name, std::to_string(static_cast<int>(page)));
        Member(controls, name, object(PageControls(page)));
    }
    for (const PictureFile& f : kPictureFiles)
        Member(pictures, quoted(std::to_string(f.id).c_str()), quoted(f.name));
    // The TALMO in its two modes, for the browser's device filters; what a
    // user did to a control, as ControlEvent counts them.
    std::string devices, events;
    for (const std::uint16_t product : {kTalmoProductId, kBootLoaderProductId}) {
        std::string device;
        Member(device, "\"vendorId\"", std::to_string(kTalmoVendorId));
        Member(device, "\"productId\"", std::to_string(product));
        Item(devices, "{" + device + "}");
    }
    for (const auto& [name, event] : {std::pair{"click", ControlEvent::Click},
                                      {"input", ControlEvent::Input},
                                      {"blur", ControlEvent::Blur},
                                      {"toggle", ControlEvent::Toggle}})
        Member(events, quoted(name), std::to_string(static_cast<int>(event)));
    std::string json;
    Member(json, "\"pages\"", "{" + pages + "}");
    Member(json, "\"footer\"", object(kFooter));
    Member(json, "\"controls\"", "{" + controls + "}");
    Member(json, "\"pictures\"", "{" + pictures + "}");
    Member(json, "\"devices\"", "[" + devices + "]");
    Member(json, "\"events\"", "{" + events + "}");
    return "{" + json + "}";
}

} // namespace talmo
