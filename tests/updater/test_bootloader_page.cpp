// The boot-loader page: its controls, what showing it does, and its buttons.
#include "updater/bootloader_page.h"

#include "fake_boot_loader.h"
#include "hex_text.h"
#include "shell/scripted_ui.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <cstring>
#include <functional>

using namespace talmo;
using namespace talmo::test;

namespace {

class FakeShell : public Shell {
public:
    void showProgrammerPage() override {}
    void returnToConsolePage() override {}
    const QPixmap& picture(int) const override { return none_; }
    bool autoUpdateTicked() const override { return autoTicked; }
    std::string& firmwarePath() override { return path; }
    void openWebSite() override { ++webOpened; }

    bool autoTicked = false;
    std::string path = "./talmo.hex";
    int webOpened = 0;

private:
    QPixmap none_;
};

// Runs a check whenever a message box is shown.
class WatchingUi : public ScriptedUi {
public:
    using ScriptedUi::ScriptedUi;
    Answer messageBox(const std::string& text, const std::string& caption, Icon icon, Buttons buttons) override {
        if (onBox)
            onBox();
        return ScriptedUi::messageBox(text, caption, icon, buttons);
    }
    std::function<void()> onBox;
};

struct Rig {
    VirtualClock clock;
    WatchingUi ui{&clock};
    FakeBootLoader device;
    DeviceLink link;
    FakeShell shell;
    AppContext context;
    TempDir dir;
    std::unique_ptr<BootLoaderPage> page;

    Rig() {
        device.clock = &clock;
        ConnectFake(link, device);
        std::memcpy(&device.program[0x130C], "TALMO V1.00\0", 12);
        context.link = &link;
        context.ui = &ui;
        context.shell = &shell;
        page = std::make_unique<BootLoaderPage>(context, nullptr);
    }

    QString text(int id) const {
        if (auto* label = page->control<QLabel>(id))
            return label->text();
        if (auto* button = page->control<QPushButton>(id))
            return button->text();
        return QStringLiteral("<missing>");
    }
    void click(int id) { QTest::mouseClick(page->control<QPushButton>(id), Qt::LeftButton); }

    std::string firmwareFile(const std::string& name, const char* version) {
        std::array<std::uint8_t, 0x8000> program;
        std::array<std::uint8_t, 0x100> eeprom;
        program.fill(0x3C);
        eeprom.fill(0x11);
        std::memset(&program[0x130C], 0, 12);
        std::memcpy(&program[0x130C], version, std::strlen(version));
        WriteWholeFile(dir / name, FirmwareFileText(program.data(), eeprom.data()));
        return (dir / name).string();
    }
};

} // namespace

class BootLoaderPageTest : public QObject {
    Q_OBJECT
private slots:
    void controlsAndTheirFirstTexts() {
        Rig r;
        const struct { int id; const char* text; } controls[] = {
            {1011, "TALMO Vx.yz"}, {1052, "Sauvegarder"}, {1051, "-"}, {1053, "Programmer"},
            {1049, "-"}, {1044, "Retour TALMO"}, {106, kWebSiteCaption}, {1050, "1.0"},
        };
        for (const auto& c : controls)
            QCOMPARE(r.text(c.id), QString::fromUtf8(c.text));
        QStringList labels;
        for (QLabel* label : r.page->findChildren<QLabel*>())
            labels << label->text();
        for (const char* label : {"Boot Loader Version:", "1. Sauvegarde du programme du PIC", "(optionnel)",
                                  "Version:", "2. Programmer une autre version dans le PIC",
                                  "TALMO_Tools, Version"})
            QVERIFY2(labels.contains(QString::fromUtf8(label)), label);
        QCOMPARE(labels.count(QStringLiteral("Version:")), 2);
        r.page->setProgramVersion("0.23");
        QCOMPARE(r.text(1050), QStringLiteral("0.23"));
    }

    void showingReadsTheVersions() {
        Rig r;
        r.page->pageShown();
        QCOMPARE(r.text(1011), QStringLiteral("TALMO BL V1.07"));
        QCOMPARE(r.text(1051), QStringLiteral("TALMO V1.00"));
        QCOMPARE(r.text(1049), QStringLiteral("-"));
        QCOMPARE(r.device.requests.size(), std::size_t(2));
        QVERIFY(r.device.sent('W').empty());
    }

    void showingWithTheAutoBoxTickedUpdatesAndLeaves() {
        Rig r;
        r.shell.autoTicked = true;
        r.shell.path = r.firmwareFile("talmo.hex", "TALMO V2.50");
        r.page->pageShown();
        QCOMPARE(r.text(1051), QStringLiteral("TALMO V2.50"));
        QCOMPARE(r.text(1049), QStringLiteral("TALMO V2.50"));
        QCOMPARE(r.ui.status(MessageField), std::string("Programmation: OK"));
        QCOMPARE(r.device.sent('W').size(), std::size_t(880));
        QCOMPARE(r.device.requests.back()[1], std::uint8_t('Z'));
        QCOMPARE(r.device.program[0x2000], std::uint8_t(0x3C));
    }

    void programmerButtonAndItsConfirmation() {
        Rig r;
        r.page->pageShown();
        const std::string file = r.firmwareFile("new.hex", "TALMO V3.00");
        r.ui.queueOpenPath(file);
        r.ui.queueAnswer(Answer::No);
        QString shownWhileAsking;
        r.ui.onBox = [&r, &shownWhileAsking] { shownWhileAsking = r.text(1049); };
        r.click(1053);
        QCOMPARE(shownWhileAsking, QStringLiteral("TALMO V3.00"));
        QCOMPARE(r.text(1049), QStringLiteral("-"));
        QCOMPARE(r.text(1051), QStringLiteral("TALMO V1.00"));
        QCOMPARE(r.ui.status(MessageField), std::string("Programmation: annulée"));
        QCOMPARE(r.shell.path, file);

        r.ui.queueOpenPath(file);
        r.ui.queueAnswer(Answer::Yes);
        r.click(1053);
        QCOMPARE(r.text(1049), QStringLiteral("TALMO V3.00"));
        QCOMPARE(r.text(1051), QStringLiteral("TALMO V3.00"));
        QCOMPARE(r.ui.status(MessageField), std::string("Programmation: OK"));
        QVERIFY(r.device.sent('Z').empty());
    }

    void showingDuringTheConfirmationWaitsForTheProgramming() {
        // The device re-enumerates while the question is open: the page is
        // shown again from inside the box. The file must still be what gets
        // programmed, and the show sequence runs once the work is over.
        Rig r;
        r.page->show();
        r.ui.queueOpenPath(r.firmwareFile("new.hex", "TALMO V3.00"));
        r.ui.onBox = [&r] { r.page->pageShown(); };
        r.click(1053);
        QCOMPARE(r.ui.status(MessageField), std::string(""));        // the later show emptied it
        QCOMPARE(r.device.program[0x2000], std::uint8_t(0x3C));      // the file, not a blank image
        QCOMPARE(r.device.sent('W').size(), std::size_t(880));
        QCOMPARE(r.device.requests[880][1], std::uint8_t('V'));
        QCOMPARE(r.device.requests[881][1], std::uint8_t('R'));
        QCOMPARE(r.text(1051), QStringLiteral("TALMO V3.00"));        // read back from the device
        QCOMPARE(r.text(1049), QStringLiteral("-"));
    }

    void saveButtonKeepsTheChosenPath() {
        Rig r;
        const std::string path = (r.dir / "backup.hex").string();
        r.ui.queueSavePath(path);
        r.click(1052);
        QCOMPARE(r.ui.status(MessageField), std::string("Sauvegarde: OK"));
        QCOMPARE(r.page->firmwareSavePath(), path);
        QVERIFY(ReadWholeFile(path).size() > 1000);
        r.click(1052); // cancelled: nothing happens
        QCOMPARE(r.ui.lastDialogRequest()->initialPath, path);
        QCOMPARE(r.ui.status(MessageField), std::string("Sauvegarde: OK"));
    }

    void leaveAndWebButtons() {
        Rig r;
        r.ui.setStatusText(MessageField, "Sauvegarde: OK");
        r.click(1044);
        QCOMPARE(r.ui.status(MessageField), std::string(""));
        QCOMPARE(r.device.requests.size(), std::size_t(1));
        QCOMPARE(r.device.requests[0][1], std::uint8_t('Z'));
        r.click(106);
        QCOMPARE(r.shell.webOpened, 1);
        QCOMPARE(r.device.requests.size(), std::size_t(1));
    }

    void otherCommandsDoNothing() {
        Rig r;
        for (int id : {0, 1, 1011, 1049, 1050, 4002, 9999})
            r.page->command(id);
        QVERIFY(r.device.requests.empty());
        QVERIFY(r.ui.events().empty());
        QCOMPARE(r.shell.webOpened, 0);
    }

    void automaticUpdateCommandReadsTheFirmwarePath() {
        Rig r;
        r.shell.path = r.firmwareFile("other.hex", "TALMO V5.00");
        r.page->command(BootLoaderPage::kAutoUpdateCommand);
        QCOMPARE(r.text(1051), QStringLiteral("TALMO V5.00"));
        QCOMPARE(r.device.requests.back()[1], std::uint8_t('Z'));
    }
};

QTEST_MAIN(BootLoaderPageTest)
#include "test_bootloader_page.moc"
