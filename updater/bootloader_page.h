// The boot-loader page (dialog 102): shown while the TALMO runs its boot
// loader. It saves the device's firmware, programs a firmware file, carries
// out the automatic update and sends the device back to its application.
#pragma once

#include "link/device_link.h"
#include "ui/page.h"
#include "updater/bootloader_flow.h"
#include "updater/firmware_image.h"

#include <memory>
#include <string>

class QFrame;
class QHBoxLayout;
class QPushButton;

namespace talmo {

class BootLoaderPage : public Page {
    Q_OBJECT
public:
    // Numeric identifiers of the page's controls (and of its commands).
    enum Control : int {
        kBootLoaderVersionControl = kBootLoaderVersionText,
        kSaveButton = kBootLoaderSaveButton,
        kDeviceVersionControl = kBootLoaderDeviceVersion,
        kProgramButton = kBootLoaderProgramButton,
        kFileVersionControl = kBootLoaderFileVersion,
        kLeaveButton = kBootLoaderLeaveButton,
        kWebButton = kWebSiteButton,              // 106, in the footer
        kProgramVersionControl = kVersionControl, // 1050, in the footer
        // Not a control: the command that the show sequence gives the page
        // itself to start the automatic update. Its number is that of the
        // device version text (a text takes no command) and of the console's
        // Auto box (another page): three things, three names.
        kAutoUpdateCommand = 1051,
    };

    BootLoaderPage(AppContext& context, QWidget* parent);
    ~BootLoaderPage() override;

    void pageShown() override;

    // Runs a command by its number, as the page's buttons do; numbers that
    // are not the page's commands do nothing.
    void command(int id);

    // What the page keeps across visits.
    const std::string& firmwareSavePath() const { return savePath_; }

private:
    // A button named by its number, that runs command(id).
    QPushButton* newCommandButton(QWidget* parent, const char* text, int id);
    QHBoxLayout* newBootLoaderRow();
    QFrame* newStep(const char* title, const char* buttonText, int buttonId, const char* note,
                    int versionId);
    BootLoaderContext flowContext();
    void showFields();
    void showSequence();
    // Runs one piece of the page's work at a time. A message box or a file
    // dialog still lets device events through: a showing that arrives in the
    // middle of the work (the device re-enumerated) is run after it, so that
    // it never resets the image under an operation that is using it.
    template <class Work>
    void runExclusive(Work&& work);

    std::unique_ptr<FirmwareImage> image_;
    std::string savePath_;
    BootLoaderFields fields_;
    Report report_{};
    std::string noFirmwarePath_; // used only when there is no shell
    bool busy_ = false;
    bool showPending_ = false;
};

} // namespace talmo
