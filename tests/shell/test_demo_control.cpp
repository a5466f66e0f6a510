// The demo's control window acts on the virtual TALMO, and the program's
// link sees its plugs, unplugs and mode switches.
#include "link/device_link.h"
#include "link/sim_backend.h"
#include "shell/clock.h"
#include "shell/demo_control.h"
#include "shell/scripted_ui.h"
#include "sim/board_firmware.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>

using namespace talmo;

namespace {

struct Rig {
    VirtualClock clock;
    sim::VirtualUsb usb{clock};
    SimBackend backend{usb};
    ScriptedUi ui{&clock};
    DeviceLink link;
    int id = -1;
    std::unique_ptr<DemoControl> control;

    Rig() {
        link.backend = &backend;
        link.ui = &ui;
        RegisterForDeviceEvents(link);
        id = backend.plug(std::make_unique<sim::Talmo>());
        backend.takeEvents();
        OpenDevice(link);
        control = std::make_unique<DemoControl>(backend, id);
    }
    sim::Talmo& device() { return *usb.device(id); }
    template <class T>
    T* find(const char* name) {
        return control->findChild<T*>(QString::fromLatin1(name));
    }
    void click(const char* name) {
        auto* b = find<QPushButton>(name);
        QVERIFY2(b, name);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void follow() {
        for (const auto& e : backend.takeEvents())
            OnDeviceChange(link, e);
    }
};

} // namespace

class TestDemoControl : public QObject {
    Q_OBJECT
private slots:
    void protectionWords_data();
    void protectionWords();
    void plugAndModes();
    void keysHeldWhilePressed();
    void machineInputs();
    void picChoice();
    void faults();
};

void TestDemoControl::protectionWords_data() {
    QTest::addColumn<int>("chip");
    QTest::addColumn<int>("protection");
    QTest::addColumn<bool>("programProtected");
    QTest::addColumn<bool>("eepromProtected");
    for (sim::PicChip chip : {sim::PicChip::F876, sim::PicChip::F877A}) {
        const char* name = sim::picChipInfo(chip).name;
        const int c = static_cast<int>(chip);
        QTest::addRow("%s none", name) << c << int(DemoProtection::None) << false << false;
        QTest::addRow("%s program", name) << c << int(DemoProtection::Program) << true << false;
        QTest::addRow("%s eeprom", name) << c << int(DemoProtection::Eeprom) << false << true;
        QTest::addRow("%s all", name) << c << int(DemoProtection::All) << true << true;
    }
}

void TestDemoControl::protectionWords() {
    QFETCH(int, chip);
    QFETCH(int, protection);
    QFETCH(bool, programProtected);
    QFETCH(bool, eepromProtected);
    sim::Pic pic(static_cast<sim::PicChip>(chip), 1);
    sim::loadBoardFirmware(pic);
    const std::uint16_t word = protectedConfigWord(pic.configWord(), pic.info().aFamily,
                                                   static_cast<DemoProtection>(protection));
    pic.setConfigWord(word);
    QCOMPARE(pic.programProtected(0), programProtected);
    QCOMPARE(pic.eepromProtected(), eepromProtected);
    // Only protection bits change: the oscillator and the other fuses stay.
    const std::uint16_t protectionBits = pic.info().aFamily ? 0x2100 : 0x3130;
    QCOMPARE(word & ~protectionBits & 0x3FFF, sim::kBoardConfigWord & ~protectionBits & 0x3FFF);
}

void TestDemoControl::plugAndModes() {
    Rig rig;
    QVERIFY(rig.link.connected());
    rig.click("plugButton");
    QVERIFY(!rig.usb.plugged(rig.id));
    rig.follow();
    QVERIFY(!rig.link.connected());
    QCOMPARE(rig.find<QPushButton>("plugButton")->text(), QStringLiteral("Brancher"));

    rig.click("plugButton");
    rig.follow();
    QVERIFY(rig.link.connected());
    QCOMPARE(rig.link.productId, std::uint16_t{0x00AA});

    rig.click("bootModeButton");
    QCOMPARE(rig.device().mode(), sim::Talmo::Mode::BootLoader);
    rig.follow();
    QVERIFY(rig.link.connected());
    QCOMPARE(rig.link.productId, std::uint16_t{0x00A9});

    rig.click("normalModeButton");
    rig.follow();
    QCOMPARE(rig.link.productId, std::uint16_t{0x00AA});
}

void TestDemoControl::keysHeldWhilePressed() {
    Rig rig;
    auto* up = rig.find<QPushButton>("key64"); // sim::KeyUp
    auto* ok = rig.find<QPushButton>("key2");  // sim::KeyOk
    QVERIFY(up && ok);
    QTest::mousePress(up, Qt::LeftButton);
    QCOMPARE(rig.device().machine().keys, std::uint8_t{sim::KeyUp});
    QTest::mousePress(ok, Qt::LeftButton);
    QCOMPARE(rig.device().machine().keys, std::uint8_t{sim::KeyUp | sim::KeyOk});
    QTest::mouseRelease(up, Qt::LeftButton);
    QCOMPARE(rig.device().machine().keys, std::uint8_t{sim::KeyOk});
    QTest::mouseRelease(ok, Qt::LeftButton);
    QCOMPARE(rig.device().machine().keys, std::uint8_t{0});
}

void TestDemoControl::machineInputs() {
    Rig rig;
    auto* limits = rig.find<QCheckBox>("machine0");
    QVERIFY(limits);
    QCOMPARE(limits->isChecked(), rig.device().machine().limitSwitchesOpen);
    limits->setChecked(!limits->isChecked());
    QCOMPARE(rig.device().machine().limitSwitchesOpen, limits->isChecked());
    auto* pwm = rig.find<QSlider>("pwmInput");
    QVERIFY(pwm);
    pwm->setValue(200);
    QCOMPARE(rig.device().machine().pwmInput, std::uint8_t{200});
    // 'I' reports what was set.
    QCOMPARE(rig.device().statusBytes()[3], std::uint8_t{200});
}

void TestDemoControl::picChoice() {
    Rig rig;
    auto* chip = rig.find<QComboBox>("picChip");
    auto* protection = rig.find<QComboBox>("picProtection");
    QVERIFY(chip && protection);
    chip->setCurrentIndex(chip->findText(QStringLiteral("PIC16F877")));
    protection->setCurrentIndex(protection->findData(int(DemoProtection::All)));
    rig.click("applyPic");
    QVERIFY(rig.device().pic());
    QCOMPARE(rig.device().pic()->info().chip, sim::PicChip::F877);
    QVERIFY(rig.device().pic()->eepromProtected());
    QVERIFY(rig.device().pic()->programProtected(0));

    chip->setCurrentIndex(0); // "Aucun PIC"
    rig.click("applyPic");
    QVERIFY(!rig.device().pic());
}

void TestDemoControl::faults() {
    Rig rig;
    rig.click("fault1"); // no more answers
    Report r{};
    r[1] = 'V';
    QVERIFY(!Exchange(rig.link, r));
    rig.click("clearFaults");
    r[1] = 'V';
    QVERIFY(Exchange(rig.link, r));
    rig.click("fault3"); // pulled out during the next request
    r[1] = 'V';
    QVERIFY(!Exchange(rig.link, r));
    rig.follow();
    QVERIFY(!rig.link.connected());
}

QTEST_MAIN(TestDemoControl)
#include "test_demo_control.moc"
