#include "shell/demo_control.h"

#include "sim/sim_backend.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace talmo {

namespace {

QString u(const char* text) { return QString::fromUtf8(text); }

// Compact enough to stand beside the program's window on a 1280-pixel screen.
constexpr int kFlagColumns = 3;
constexpr int kKeyWidth = 44;

} // namespace

void placeSideBySide(QWidget& program, QWidget& control) {
    const QScreen* screen = program.screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // Outer sizes: the frame counts once the window manager has made it.
    const QSize a = program.frameGeometry().size();
    const QSize b = control.frameGeometry().size();
    const int gap = std::max(0, (area.width() - a.width() - b.width()) / 3);
    const int x = area.left() + gap;
    const int y = area.top() + std::max(0, (area.height() - std::max(a.height(), b.height())) / 2);
    program.move(x, y);
    control.move(std::min(x + a.width() + gap, area.right() + 1 - b.width()), y);
}

DemoControl::DemoControl(sim::SimBackend& backend, int deviceId, QWidget* parent)
    : QWidget(parent), backend_(backend), id_(deviceId) {
    setWindowTitle(u("TALMO virtuel"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(buildUsbGroup(), 0, 0);
    grid->addWidget(buildKeypadGroup(), 0, 1);
    grid->addWidget(buildMachineGroup(), 1, 0, 1, 2);
    grid->addWidget(buildPicGroup(), 2, 0);
    grid->addWidget(buildFaultGroup(), 2, 1);
    refresh();
}

sim::Talmo& DemoControl::device() { return *backend_.usb().device(id_); }

void DemoControl::refresh() {
    backend_.notify();
    const bool plugged = backend_.usb().plugged(id_);
    const bool boot = device().mode() == sim::Talmo::Mode::BootLoader;
    QString state =
        plugged ? u("Branché, ") + (boot ? u("boot loader (0x00A9)") : u("mode normal (0x00AA)"))
                : u("Débranché");
    if (auto path = backend_.usb().pathOf(id_))
        state += QStringLiteral(" — ") + QString::fromStdString(*path);
    usbState_->setText(state);
    plugButton_->setText(plugged ? u("Débrancher") : u("Brancher"));
}

QWidget* DemoControl::buildUsbGroup() {
    auto* group = new QGroupBox(u("USB"), this);
    auto* column = new QVBoxLayout(group);
    usbState_ = new QLabel(group);
    usbState_->setWordWrap(true);
    column->addWidget(usbState_);
    auto* row = new QHBoxLayout;
    plugButton_ = new QPushButton(u("Débrancher"), group);
    plugButton_->setObjectName(QStringLiteral("plugButton"));
    connect(plugButton_, &QPushButton::clicked, this, [this] {
        if (backend_.usb().plugged(id_))
            backend_.usb().unplug(id_);
        else
            backend_.usb().replug(id_);
        refresh();
    });
    row->addWidget(plugButton_);
    auto* normal = new QPushButton(u("Mode normal"), group);
    normal->setObjectName(QStringLiteral("normalModeButton"));
    connect(normal, &QPushButton::clicked, this, [this] {
        device().setMode(sim::Talmo::Mode::Normal);
        refresh();
    });
    row->addWidget(normal);
    auto* boot = new QPushButton(u("Boot loader"), group);
    boot->setObjectName(QStringLiteral("bootModeButton"));
    connect(boot, &QPushButton::clicked, this, [this] {
        device().setMode(sim::Talmo::Mode::BootLoader);
        refresh();
    });
    row->addWidget(boot);
    column->addLayout(row);
    return group;
}

QWidget* DemoControl::buildKeypadGroup() {
    auto* group = new QGroupBox(u("Clavier"), this);
    auto* grid = new QGridLayout(group);
    struct KeyButton {
        const char* label;
        std::uint8_t bit;
        int row, column;
    };
    const KeyButton keys[] = {
        {"▲", sim::KeyUp, 0, 1},   {"◀", sim::KeyLeft, 1, 0},  {"▶", sim::KeyRight, 1, 2},
        {"▼", sim::KeyDown, 2, 1}, {"ESC", sim::KeyEsc, 0, 3}, {"OK", sim::KeyOk, 2, 3},
    };
    for (const KeyButton& k : keys) {
        auto* button = new QPushButton(u(k.label), group);
        button->setObjectName(QStringLiteral("key%1").arg(k.bit));
        button->setToolTip(u("Maintenir pour garder la touche enfoncée"));
        button->setMaximumWidth(kKeyWidth);
        const std::uint8_t bit = k.bit;
        connect(button, &QPushButton::pressed, this, [this, bit] {
            device().machine().keys = static_cast<std::uint8_t>(device().machine().keys | bit);
        });
        connect(button, &QPushButton::released, this, [this, bit] {
            device().machine().keys = static_cast<std::uint8_t>(device().machine().keys & ~bit);
        });
        grid->addWidget(button, k.row, k.column);
    }
    auto* absent = new QCheckBox(u("Clavier absent"), group);
    connect(absent, &QCheckBox::toggled, this,
            [this](bool on) { device().machine().keypadAbsent = on; });
    grid->addWidget(absent, 3, 0, 1, 4);
    return group;
}

QWidget* DemoControl::buildMachineGroup() {
    auto* group = new QGroupBox(u("Machine"), this);
    auto* grid = new QGridLayout(group);
    sim::Machine& m = device().machine();
    int n = 0;
    for (const sim::MachineInput& f : sim::MachineInputs()) {
        if (f.field == &sim::Machine::keypadAbsent)
            continue; // in the keypad's group
        auto* box = new QCheckBox(u(f.label), group);
        box->setObjectName(QStringLiteral("machine%1").arg(n));
        box->setChecked(m.*(f.field));
        const auto member = f.field;
        connect(box, &QCheckBox::toggled, this,
                [this, member](bool on) { device().machine().*member = on; });
        grid->addWidget(box, n / kFlagColumns, n % kFlagColumns);
        ++n;
    }
    auto* pwmRow = new QHBoxLayout;
    pwmRow->addWidget(new QLabel(u("Entrée PWM mesurée :"), group));
    auto* slider = new QSlider(Qt::Horizontal, group);
    slider->setObjectName(QStringLiteral("pwmInput"));
    slider->setRange(0, 255);
    slider->setValue(m.pwmInput);
    auto* value = new QLabel(QString::number(m.pwmInput), group);
    value->setMinimumWidth(30);
    connect(slider, &QSlider::valueChanged, this, [this, value](int v) {
        device().machine().pwmInput = static_cast<std::uint8_t>(v);
        value->setText(QString::number(v));
    });
    pwmRow->addWidget(slider, 1);
    pwmRow->addWidget(value);
    grid->addLayout(pwmRow, (n + kFlagColumns - 1) / kFlagColumns, 0, 1, kFlagColumns);
    return group;
}

QWidget* DemoControl::buildPicGroup() {
    auto* group = new QGroupBox(u("PIC de la carte VELKOR"), this);
    auto* grid = new QGridLayout(group);
    chip_ = new QComboBox(group);
    chip_->setObjectName(QStringLiteral("picChip"));
    chip_->addItem(u("Aucun PIC"), -1);
    for (sim::PicChip c : sim::AllPicChips())
        chip_->addItem(QString::fromLatin1(sim::ChipInfo(c).name), static_cast<int>(c));
    if (const sim::Pic* pic = device().pic())
        chip_->setCurrentIndex(chip_->findData(static_cast<int>(pic->info().chip)));
    protection_ = new QComboBox(group);
    protection_->setObjectName(QStringLiteral("picProtection"));
    protection_->addItem(u("Aucune protection"), static_cast<int>(sim::DemoProtection::None));
    protection_->addItem(u("Programme protégé"), static_cast<int>(sim::DemoProtection::Program));
    protection_->addItem(u("EEPROM protégée"), static_cast<int>(sim::DemoProtection::Eeprom));
    protection_->addItem(u("Tout protégé"), static_cast<int>(sim::DemoProtection::All));
    auto* apply = new QPushButton(u("Poser ce PIC (firmware de la carte)"), group);
    apply->setObjectName(QStringLiteral("applyPic"));
    connect(apply, &QPushButton::clicked, this, &DemoControl::applyPic);
    auto* strict = new QCheckBox(u("Temps de programmation stricts"), group);
    strict->setChecked(device().pic() && device().pic()->strictTiming());
    connect(strict, &QCheckBox::toggled, this, [this](bool on) {
        if (sim::Pic* pic = device().pic())
            pic->setStrictTiming(on);
    });
    grid->addWidget(new QLabel(u("Modèle :"), group), 0, 0);
    grid->addWidget(chip_, 0, 1);
    grid->addWidget(new QLabel(u("Protection :"), group), 1, 0);
    grid->addWidget(protection_, 1, 1);
    grid->addWidget(apply, 2, 0, 1, 2);
    grid->addWidget(strict, 3, 0, 1, 2);
    return group;
}

void DemoControl::applyPic() {
    const int chip = chip_->currentData().toInt();
    sim::PlaceBoardPic(device(),
                       chip < 0 ? std::nullopt : std::optional(static_cast<sim::PicChip>(chip)),
                       static_cast<sim::DemoProtection>(protection_->currentData().toInt()), 7);
}

QWidget* DemoControl::buildFaultGroup() {
    auto* group = new QGroupBox(u("Pannes"), this);
    auto* column = new QVBoxLayout(group);
    faultState_ = new QLabel(u("Aucune panne"), group);
    int faultNumber = 0;
    auto addFault = [&](const char* label, sim::DemoFault fault, const char* state) {
        auto* button = new QPushButton(u(label), group);
        button->setObjectName(QStringLiteral("fault%1").arg(faultNumber++));
        connect(button, &QPushButton::clicked, this, [this, fault, state] {
            sim::ArmFault(device(), fault);
            faultState_->setText(u(state));
        });
        column->addWidget(button);
    };
    addFault("Pas de réponse à la prochaine requête", sim::DemoFault::NoAnswer,
             "Une réponse perdue");
    addFault("Ne plus répondre", sim::DemoFault::Silent, "Le TALMO ne répond plus");
    addFault("Mauvais écho à la prochaine requête", sim::DemoFault::WrongEcho, "Un écho faux");
    addFault("Arraché pendant la prochaine requête", sim::DemoFault::Unplug, "Arrachage armé");
    addFault("Refuser l'écriture du firmware (0x1300)", sim::DemoFault::RefuseFirmware,
             "Écriture du bloc 0x1300 refusée");
    auto* clear = new QPushButton(u("Lever toutes les pannes"), group);
    clear->setObjectName(QStringLiteral("clearFaults"));
    connect(clear, &QPushButton::clicked, this, [this] {
        device().faults() = sim::Faults{};
        faultState_->setText(u("Aucune panne"));
    });
    column->addWidget(clear);
    column->addWidget(faultState_);
    column->addStretch(1);
    return group;
}

} // namespace talmo
