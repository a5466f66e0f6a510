// The demo's control window acts on the virtual TALMO, and the program's
// link sees its plugs, unplugs and mode switches.
#include "programmer/programmer_page.h"
#include "shell/demo_control.h"
#include "shell_rig.h"
#include "sim/board_firmware.h"
#include "ui/qt_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>

using namespace talmo;
using namespace talmo::test;

namespace {

// The program's link on one TALMO, with the control window beside it.
struct DemoRig : ShellRig {
    int id = -1;
    std::unique_ptr<DemoControl> control;

    DemoRig() {
        RegisterForDeviceEvents(link);
        id = plug(Mode::Normal, true);
        OpenDevice(link);
        control = std::make_unique<DemoControl>(backend, id);
    }
    template <class T>
    T* find(const char* name) {
        T* w = control->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    // What the program does with the bus's events.
    void follow() {
        for (const auto& e : backend.takeEvents())
            OnDeviceChange(link, e);
    }
    const sim::Machine& machine() { return device(id).machine(); }
};

} // namespace

class TestDemoControl : public QObject {
    Q_OBJECT
private slots:
    // Each protection on a chip of each family: what it protects, and only
    // protection bits change (the oscillator and the other fuses stay).
    void protectionWords() {
        using P = sim::DemoProtection;
        for (sim::PicChip chip : {sim::PicChip::F876, sim::PicChip::F877A})
            for (P protection : {P::None, P::Program, P::Eeprom, P::All}) {
                sim::Pic pic(chip, 1);
                sim::LoadBoardFirmware(pic);
                const std::uint16_t word =
                    sim::ProtectedConfigWord(pic.configWord(), pic.info().aFamily, protection);
                pic.setConfigWord(word);
                QCOMPARE(pic.programProtected(0), protection == P::Program || protection == P::All);
                QCOMPARE(pic.eepromProtected(), protection == P::Eeprom || protection == P::All);
                const std::uint16_t bits = pic.info().aFamily ? 0x2100 : 0x3130;
                QCOMPARE(word & ~bits & 0x3FFF, sim::kBoardConfigWord & ~bits & 0x3FFF);
            }
    }

    void plugAndModes() {
        DemoRig rig;
        // Each button, then whether the link is connected and to which product
        // (0: not connected).
        const std::pair<const char*, int> steps[] = {{"plugButton", 0},
                                                     {"plugButton", 0xAA},
                                                     {"bootModeButton", 0xA9},
                                                     {"normalModeButton", 0xAA}};
        for (const auto& [button, productId] : steps) {
            rig.click(button);
            rig.follow();
            QCOMPARE(rig.link.connected(), productId != 0);
            if (productId)
                QCOMPARE(int(rig.link.productId), productId);
            else
                QCOMPARE(rig.find<QPushButton>("plugButton")->text(), QStringLiteral("Brancher"));
        }
    }

    void machineInputs() {
        DemoRig rig;
        // Keys are held while pressed, several at once.
        auto* up = rig.find<QPushButton>("key64"); // sim::KeyUp
        auto* ok = rig.find<QPushButton>("key2");  // sim::KeyOk
        QTest::mousePress(up, Qt::LeftButton);
        QTest::mousePress(ok, Qt::LeftButton);
        QCOMPARE(rig.machine().keys, std::uint8_t{sim::KeyUp | sim::KeyOk});
        QTest::mouseRelease(up, Qt::LeftButton);
        QCOMPARE(rig.machine().keys, std::uint8_t{sim::KeyOk});
        QTest::mouseRelease(ok, Qt::LeftButton);
        QCOMPARE(rig.machine().keys, std::uint8_t{0});

        auto* limits = rig.find<QCheckBox>("machine0");
        QCOMPARE(limits->isChecked(), rig.machine().limitSwitchesOpen);
        limits->setChecked(!limits->isChecked());
        QCOMPARE(rig.machine().limitSwitchesOpen, limits->isChecked());
        rig.find<QSlider>("pwmInput")->setValue(200);
        QCOMPARE(rig.device(rig.id).statusBytes()[3], std::uint8_t{200}); // 'I' reports it
    }

    void picChoice() {
        DemoRig rig;
        auto* chip = rig.find<QComboBox>("picChip");
        auto* protection = rig.find<QComboBox>("picProtection");
        chip->setCurrentIndex(chip->findText(QStringLiteral("PIC16F877")));
        protection->setCurrentIndex(protection->findData(int(sim::DemoProtection::All)));
        rig.click("applyPic");
        const sim::Pic* pic = rig.device(rig.id).pic();
        QVERIFY(pic && pic->info().chip == sim::PicChip::F877);
        QVERIFY(pic->eepromProtected() && pic->programProtected(0));

        chip->setCurrentIndex(0); // "Aucun PIC"
        rig.click("applyPic");
        QVERIFY(!rig.device(rig.id).pic());
    }

    void faults() {
        DemoRig rig;
        Report r{};
        const auto exchange = [&] {
            r[1] = 'V';
            return Exchange(rig.link, r);
        };
        rig.click("fault1"); // no more answers
        QVERIFY(!exchange());
        rig.click("clearFaults");
        QVERIFY(exchange());
        rig.click("fault3"); // pulled out during the next request
        QVERIFY(!exchange());
        rig.follow();
        QVERIFY(!rig.link.connected());
    }

    // The demo as a user runs it: "Identifier" on the programmer page, and
    // "Débrancher" pressed while the PIC is being read. The read stops at the
    // unplug; the program's own buttons take no click meanwhile.
    void unplugDuringARead() {
        VirtualClock clock;
        QtUi ui(clock);
        sim::WiredTalmo wired(clock, &ui);
        wired.bus.setLatencyUs(1000);
        sim::VirtualUsb& usb = wired.bus;
        const int id = wired.deviceId;
        MainWindow w(wired.link, ui, createStandardPage);
        DemoControl control(wired.backend, id);
        w.show();
        w.showProgrammerPage();
        QWidget* identify = w.currentPage()->control(kProgrammerIdentifyButton);

        QStringList boxes;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->text();
                box->reject();
            }
        });
        closer.start(5);
        std::size_t exchangesAtUnplug = 0;
        QTimer::singleShot(0, [&] {
            exchangesAtUnplug = usb.device(id)->log().size();
            QTest::mouseClick(identify, Qt::LeftButton); // dropped: a read is running
            QTest::mouseClick(control.findChild<QPushButton*>(QStringLiteral("plugButton")),
                              Qt::LeftButton);
        });
        QTest::mouseClick(identify, Qt::LeftButton);
        QCOMPARE(boxes, QStringList{QStringLiteral("Erreur lors de la lecture du PIC.")});
        QVERIFY(exchangesAtUnplug > 0 && exchangesAtUnplug < 100);
        QTRY_COMPARE(w.currentPageKind(), PageKind::Waiting);
    }

    // At 1280 x 800 both windows are whole on the screen, side by side.
    void placedSideBySide() {
        DemoRig rig;
        MainWindow w(rig.link, rig.ui);
        rig.control->adjustSize();
        placeSideBySide(w, *rig.control);
        const QRect area = w.screen()->availableGeometry();
        const QRect a = w.frameGeometry(), b = rig.control->frameGeometry();
        const QString sizes = QStringLiteral("%1 + %2").arg(a.width()).arg(b.width());
        QVERIFY2(area.contains(a) && area.contains(b), qPrintable(sizes));
        QCOMPARE(a.intersects(b), area.width() < a.width() + b.width());
        // Beside each other at 1280 pixels, frames included.
        QVERIFY2(a.width() + b.width() + 32 <= 1280, qPrintable(sizes));
    }
};

QTEST_MAIN(TestDemoControl)
#include "test_demo_control.moc"
