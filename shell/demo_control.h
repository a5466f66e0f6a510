// The demo's control window: plays the virtual TALMO's part. Plug and unplug
// it, switch its mode, press its keypad keys, open and close its contacts,
// set its PWM input, pick the board's PIC and its protection, and inject the
// emulator's faults.
#pragma once

#include "sim/demo_controls.h"

#include <QWidget>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace sim {
class SimBackend;
class Talmo;
} // namespace sim

namespace talmo {

// Puts the program's window and the control window side by side, centred
// within the available area of the program's screen, both whole when their
// frames fit; else the control window keeps to the area's right edge.
// Called again once the window manager has framed them, it counts the frames.
void placeSideBySide(QWidget& program, QWidget& control);

class DemoControl : public QWidget {
    Q_OBJECT
public:
    // deviceId: the virtual TALMO's id on the backend's bus.
    DemoControl(sim::SimBackend& backend, int deviceId, QWidget* parent = nullptr);

    // Lets the program see the device's arrivals and removals and shows
    // its USB state.
    void refresh();

private:
    sim::Talmo& device();
    QWidget* buildUsbGroup();
    QWidget* buildMachineGroup();
    QWidget* buildKeypadGroup();
    QWidget* buildPicGroup();
    QWidget* buildFaultGroup();
    void applyPic();

    sim::SimBackend& backend_;
    int id_;
    QLabel* usbState_ = nullptr;
    QPushButton* plugButton_ = nullptr;
    QComboBox* chip_ = nullptr;
    QComboBox* protection_ = nullptr;
    QLabel* faultState_ = nullptr;
};

} // namespace talmo
