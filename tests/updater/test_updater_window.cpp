// The automatic firmware update from end to end, through the program's own
// window and pages on the device emulator: console page, Auto box, "Mise à
// jour", re-enumeration, the boot-loader page programming talmo.hex and
// sending 'Z', and the console page back with the new version.
#include "console/console_core.h"
#include "hex_text.h"
#include "link/device_link.h"
#include "link/sim_backend.h"
#include "shell/main_window.h"
#include "shell/scripted_ui.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"
#include "updater/bootloader_page.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace talmo;
using namespace talmo::test;

namespace {

struct Program {
    TempDir dir;
    QString previousFolder = QDir::currentPath();
    VirtualClock clock;
    ScriptedUi ui{&clock};
    sim::VirtualUsb bus{clock};
    SimBackend backend{bus};
    DeviceLink link;
    sim::Talmo* device = nullptr;
    std::unique_ptr<MainWindow> window;
    std::array<std::uint8_t, 0x8000> program{};
    std::array<std::uint8_t, 0x100> eeprom{};

    Program() {
        // The default firmware path is talmo.hex in the working folder.
        QDir::setCurrent(QString::fromStdString(dir.path().string()));
        auto d = std::make_unique<sim::Talmo>();
        d->setFirmwareVersion("TALMO V0.23");
        device = d.get();
        backend.plug(std::move(d));
        link.backend = &backend;
        link.ui = &ui;
    }
    ~Program() {
        window.reset();
        QDir::setCurrent(previousFolder);
    }

    void writeTalmoHex(const std::string& version) {
        for (int a = 0; a < 0x8000; ++a)
            program[a] = static_cast<std::uint8_t>(a * 7 ^ 0x5A);
        for (int e = 0; e < 0x100; ++e)
            eeprom[e] = static_cast<std::uint8_t>(0xC0 + e);
        std::fill(program.begin() + 0x130C, program.begin() + 0x1318, 0);
        std::copy(version.begin(), version.end(), program.begin() + 0x130C);
        WriteWholeFile(dir / "talmo.hex", FirmwareFileText(program.data(), eeprom.data()));
    }

    void start() { window = std::make_unique<MainWindow>(link, ui, createStandardPage); }

    QString label(PageKind page, int id) const {
        auto* l = window->page(page)->control<QLabel>(id);
        return l ? l->text() : QStringLiteral("<missing>");
    }

    // Console page: tick the Auto box (or not) and press "Mise à jour".
    void requestUpdate(bool tickAuto) {
        Page* console = window->page(PageKind::Console);
        auto* box = console->control<QCheckBox>(kCtlAutoBox);
        QVERIFY(box);
        if (tickAuto)
            box->click();
        QCOMPARE(box->isChecked(), tickAuto);
        auto* update = console->control<QPushButton>(kCtlUpdateButton);
        QVERIFY(update);
        update->click();
    }

    bool deviceHoldsFile() const {
        for (std::uint32_t a = 0x1300; a < 0x8000; ++a)
            if (device->flashByte(a) != program[a])
                return false;
        for (std::uint32_t e = 0; e < 0x100; ++e)
            if (device->eepromByte(e) != eeprom[e])
                return false;
        return true;
    }
};

} // namespace

class UpdaterWindowTest : public QObject {
    Q_OBJECT
private slots:
    void automaticUpdateBringsTheNewVersionBack() {
        Program p;
        p.writeTalmoHex("TALMO V0.31");
        p.start();
        QCOMPARE(p.window->currentPageKind(), PageKind::Console);
        QCOMPARE(p.label(PageKind::Console, kCtlVersionText), QStringLiteral("TALMO V0.23"));

        p.requestUpdate(true);
        QCOMPARE(p.device->mode(), sim::Talmo::Mode::BootLoader);

        // The device comes back in its boot loader: the boot-loader page
        // shows, programs talmo.hex and sends 'Z' before the events return.
        p.window->processDeviceEvents();
        QCOMPARE(p.device->mode(), sim::Talmo::Mode::Normal);
        QVERIFY(p.deviceHoldsFile());
        QCOMPARE(p.label(PageKind::BootLoader, BootLoaderPage::kDeviceVersionControl), QStringLiteral("TALMO V0.31"));
        QCOMPARE(p.label(PageKind::BootLoader, BootLoaderPage::kFileVersionControl), QStringLiteral("TALMO V0.31"));
        const auto texts = p.ui.statusTexts(MessageField);
        QVERIFY(std::find(texts.begin(), texts.end(), "Lecture du fichier: OK") != texts.end());
        QVERIFY(std::find(texts.begin(), texts.end(), "Programmation: OK") != texts.end());
        QCOMPARE(p.device->log().count('W'), std::size_t(880));

        // The device comes back in normal mode: the console page again, with
        // the version now running.
        p.window->processDeviceEvents();
        QCOMPARE(p.window->currentPageKind(), PageKind::Console);
        QCOMPARE(p.label(PageKind::Console, kCtlVersionText), QStringLiteral("TALMO V0.31"));
        QCOMPARE(p.ui.status(ConnectionField), std::string("USB: TALMO connecté"));
        QVERIFY(p.ui.boxes().empty());
    }

    void automaticUpdateWithoutTalmoHexStaysInTheBootLoader() {
        Program p;
        p.start();
        p.requestUpdate(true);
        p.window->processDeviceEvents();
        QCOMPARE(p.window->currentPageKind(), PageKind::BootLoader);
        QCOMPARE(p.device->mode(), sim::Talmo::Mode::BootLoader);
        const auto boxes = p.ui.boxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].text, std::string("Impossible de lire le fichier..."));
        QCOMPARE(boxes[0].caption, std::string("Erreur fichier"));
        QCOMPARE(p.ui.status(MessageField), std::string("Lecture du fichier: Erreur"));
        QCOMPARE(p.device->log().count('W'), std::size_t(0));
        QCOMPARE(p.label(PageKind::BootLoader, BootLoaderPage::kDeviceVersionControl), QStringLiteral("TALMO V0.23"));
        p.window->processDeviceEvents(); // nothing more happens
        QCOMPARE(p.window->currentPageKind(), PageKind::BootLoader);
    }

    void withoutTheAutoBoxThePageWaitsForTheUser() {
        Program p;
        p.writeTalmoHex("TALMO V0.31");
        p.start();
        p.requestUpdate(false);
        p.window->processDeviceEvents();
        QCOMPARE(p.window->currentPageKind(), PageKind::BootLoader);
        QCOMPARE(p.device->mode(), sim::Talmo::Mode::BootLoader);
        QCOMPARE(p.device->log().count('W'), std::size_t(0));
        QCOMPARE(p.label(PageKind::BootLoader, BootLoaderPage::kBootLoaderVersionControl),
                 QString::fromStdString(p.device->bootLoaderVersion()));
        QCOMPARE(p.label(PageKind::BootLoader, BootLoaderPage::kDeviceVersionControl), QStringLiteral("TALMO V0.23"));

        // "Retour TALMO" sends the device back to the console page.
        p.window->page(PageKind::BootLoader)->control<QPushButton>(BootLoaderPage::kLeaveButton)->click();
        QCOMPARE(p.device->mode(), sim::Talmo::Mode::Normal);
        p.window->processDeviceEvents();
        QCOMPARE(p.window->currentPageKind(), PageKind::Console);
    }
};

QTEST_MAIN(UpdaterWindowTest)
#include "test_updater_window.moc"
