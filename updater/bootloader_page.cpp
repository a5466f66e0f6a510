#include "updater/bootloader_page.h"

#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace talmo {

namespace {

QString q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QLabel* newLabel(QWidget* parent, const char* text, int id = 0) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    if (id != 0)
        label->setObjectName(controlName(id));
    return label;
}

} // namespace

BootLoaderPage::BootLoaderPage(AppContext& context, QWidget* parent)
    : Page(context, parent), image_(std::make_unique<FirmwareImage>()) {
    ResetFirmwareImage(*image_);

    auto* page = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    top->addWidget(newLabel(this, "Boot Loader Version:"));
    auto* bootVersion = newLabel(this, kInitialBootLoaderVersion, kBootLoaderVersionControl);
    QFont bold = bootVersion->font();
    bold.setBold(true);
    bootVersion->setFont(bold);
    top->addWidget(bootVersion);
    top->addStretch(1);
    page->addLayout(top);
    page->addSpacing(12);

    auto* steps = new QGridLayout;
    steps->setColumnStretch(3, 1);
    steps->setHorizontalSpacing(10);
    steps->setVerticalSpacing(6);

    steps->addWidget(newLabel(this, "1. Sauvegarde du programme du PIC"), 0, 0, 1, 2);
    auto* save = new QPushButton(QStringLiteral("Sauvegarder"), this);
    save->setObjectName(controlName(kSaveButton));
    steps->addWidget(save, 0, 2);
    steps->addWidget(newLabel(this, "(optionnel)"), 0, 3);
    steps->addWidget(newLabel(this, "Version:"), 1, 0, Qt::AlignRight);
    steps->addWidget(newLabel(this, kNoVersion, kDeviceVersionControl), 1, 1, 1, 3);

    steps->setRowMinimumHeight(2, 16);

    steps->addWidget(newLabel(this, "2. Programmer une autre version dans le PIC"), 3, 0, 1, 2);
    auto* program = new QPushButton(QStringLiteral("Programmer"), this);
    program->setObjectName(controlName(kProgramButton));
    steps->addWidget(program, 3, 2);
    steps->addWidget(newLabel(this, "Version:"), 4, 0, Qt::AlignRight);
    steps->addWidget(newLabel(this, kNoVersion, kFileVersionControl), 4, 1, 1, 3);
    page->addLayout(steps);
    page->addSpacing(16);

    auto* leaveRow = new QHBoxLayout;
    auto* leave = new QPushButton(QStringLiteral("Retour TALMO"), this);
    leave->setObjectName(controlName(kLeaveButton));
    leaveRow->addWidget(leave);
    leaveRow->addStretch(1);
    page->addLayout(leaveRow);
    page->addStretch(1);
    page->addWidget(createFooter());

    for (QPushButton* button : {save, program, leave}) {
        button->setAutoDefault(false);
        const int id = button == save ? kSaveButton : button == program ? kProgramButton : kLeaveButton;
        connect(button, &QPushButton::clicked, this, [this, id] { command(id); });
    }
}

BootLoaderPage::~BootLoaderPage() = default;

BootLoaderContext BootLoaderPage::flowContext() {
    std::string& firmwarePath = context_.shell ? context_.shell->firmwarePath() : noFirmwarePath_;
    return BootLoaderContext{*context_.link, *context_.ui, *image_, firmwarePath, savePath_, fields_, report_};
}

void BootLoaderPage::showFields() {
    control<QLabel>(kBootLoaderVersionControl)->setText(q(fields_.bootLoaderVersion));
    control<QLabel>(kDeviceVersionControl)->setText(q(fields_.deviceVersion));
    control<QLabel>(kFileVersionControl)->setText(q(fields_.fileVersion));
}

void BootLoaderPage::pageShown() {
    if (!context_.link || !context_.ui)
        return;
    BootLoaderContext c = flowContext();
    BootLoaderShown(c, false);
    showFields();
    // The automatic update runs before the show notification returns.
    if (context_.shell && context_.shell->autoUpdateTicked())
        command(kAutoUpdateCommand);
}

void BootLoaderPage::command(int id) {
    if (id == kWebButton) {
        if (context_.shell)
            context_.shell->openWebSite();
        return;
    }
    if (!context_.link || !context_.ui)
        return;
    BootLoaderContext c = flowContext();
    switch (id) {
    case kSaveButton: BootLoaderSave(c); break;
    case kProgramButton: BootLoaderProgram(c); break;
    case kAutoUpdateCommand: BootLoaderAutoUpdate(c); break;
    case kLeaveButton: BootLoaderLeave(c); break;
    default: return;
    }
    showFields();
}

} // namespace talmo
