#include "updater/bootloader_page.h"

#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>


namespace talmo {

BootLoaderPage::BootLoaderPage(AppContext& context, QWidget* parent)
    : Page(context, parent), image_(std::make_unique<FirmwareImage>()) {
    ResetFirmwareImage(*image_);
    // The labels follow the fields as the work goes (before a question, before
    // a long operation), not only when it ends.
    fields_.changed = [this] { showFields(); };

    auto* page = new QVBoxLayout(this);
    page->addLayout(newBootLoaderRow());
    page->addSpacing(8);
    page->addWidget(newStep("1. Sauvegarde du programme du PIC", "Sauvegarder", kSaveButton,
                            "(optionnel)", kDeviceVersionControl));
    page->addSpacing(6);
    page->addWidget(newStep("2. Programmer une autre version dans le PIC", "Programmer",
                            kProgramButton, nullptr, kFileVersionControl));
    page->addSpacing(10);
    auto* leaveRow = new QHBoxLayout;
    leaveRow->addWidget(newCommandButton(this, "Retour TALMO", kLeaveButton));
    leaveRow->addStretch(1);
    page->addLayout(leaveRow);
    page->addStretch(1);
    page->addWidget(createFooter());
}

QPushButton* BootLoaderPage::newCommandButton(QWidget* parent, const char* text, int id) {
    QPushButton* button = newControlButton(parent, text, id);
    connect(button, &QPushButton::clicked, this, [this, id] { command(id); });
    return button;
}

// "Boot Loader Version:" and the version the boot loader gave, in bold.
QHBoxLayout* BootLoaderPage::newBootLoaderRow() {
    auto* top = new QHBoxLayout;
    top->addWidget(newControlLabel(this, "Boot Loader Version:"));
    auto* bootVersion = newControlLabel(this, kInitialBootLoaderVersion, kBootLoaderVersionControl);
    QFont bold = bootVersion->font();
    bold.setBold(true);
    bootVersion->setFont(bold);
    top->addWidget(bootVersion);
    top->addStretch(1);
    return top;
}

// One framed band per step: its title and button, then the version it concerns.
QFrame* BootLoaderPage::newStep(const char* title, const char* buttonText, int buttonId,
                                const char* note, int versionId) {
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(frame);
    grid->setHorizontalSpacing(10);
    grid->setColumnStretch(3, 1);
    QLabel* titleLabel = newControlLabel(frame, title);
    // Both steps' buttons line up after the longer title.
    titleLabel->setMinimumWidth(titleLabel->fontMetrics().horizontalAdvance(
                                    QStringLiteral("2. Programmer une autre version dans le PIC")) +
                                8);
    grid->addWidget(titleLabel, 0, 0, 1, 2);
    grid->addWidget(newCommandButton(frame, buttonText, buttonId), 0, 2);
    if (note)
        grid->addWidget(newControlLabel(frame, note), 0, 3);
    grid->addWidget(newControlLabel(frame, "Version:"), 1, 0, Qt::AlignRight);
    grid->addWidget(newControlLabel(frame, kNoVersion, versionId), 1, 1, 1, 3);
    grid->setColumnMinimumWidth(0, 60);
    return frame;
}

BootLoaderPage::~BootLoaderPage() = default;

BootLoaderContext BootLoaderPage::flowContext() {
    std::string& firmwarePath = context_.shell ? context_.shell->firmwarePath() : noFirmwarePath_;
    return BootLoaderContext{*context_.link, *context_.ui, *image_, firmwarePath,
                             savePath_,      fields_,      report_};
}

void BootLoaderPage::showFields() {
    control<QLabel>(kBootLoaderVersionControl)
        ->setText(QString::fromStdString(fields_.bootLoaderVersion));
    control<QLabel>(kDeviceVersionControl)->setText(QString::fromStdString(fields_.deviceVersion));
    control<QLabel>(kFileVersionControl)->setText(QString::fromStdString(fields_.fileVersion));
}

template <class Work>
void BootLoaderPage::runExclusive(Work&& work) {
    busy_ = true;
    work();
    busy_ = false;
    showFields();
    if (showPending_) {
        showPending_ = false;
        if (!isHidden())
            showSequence();
    }
}

void BootLoaderPage::pageShown() {
    if (busy_) {
        showPending_ = true;
        return;
    }
    showSequence();
}

void BootLoaderPage::showSequence() {
    if (!context_.link || !context_.ui)
        return;
    runExclusive([this] {
        BootLoaderContext c = flowContext();
        BootLoaderShown(c, false);
        // The automatic update runs before the show notification returns.
        if (context_.shell && context_.shell->autoUpdateTicked())
            BootLoaderAutoUpdate(c);
    });
}

void BootLoaderPage::command(int id) {
    if (id == kWebButton) {
        if (context_.shell)
            context_.shell->openWebSite();
        return;
    }
    if (!context_.link || !context_.ui || busy_)
        return;
    if (id != kSaveButton && id != kProgramButton && id != kAutoUpdateCommand && id != kLeaveButton)
        return;
    runExclusive([this, id] {
        BootLoaderContext c = flowContext();
        switch (id) {
        case kSaveButton:
            BootLoaderSave(c);
            break;
        case kProgramButton:
            BootLoaderProgram(c);
            break;
        case kAutoUpdateCommand:
            BootLoaderAutoUpdate(c);
            break;
        case kLeaveButton:
            BootLoaderLeave(c);
            break;
        default:
            break;
        }
    });
}

} // namespace talmo
