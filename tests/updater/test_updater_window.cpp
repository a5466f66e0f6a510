// The boot-loader page inside the program's own window on the device
// emulator: its controls, its buttons, and the automatic update from end to
// end (console page, Auto box, "Mise à jour", re-enumeration, the boot-loader
// page programming talmo.hex and sending 'Z', the console page back with the
// new version).
#include "console/console_core.h"
#include "shell/main_window.h"
#include "tests/common/page_rig.h"
#include "updater/bootloader_page.h"
#include "updater_rig.h"

#include <QCheckBox>
#include <QDir>
#include <QtTest>

using namespace talmo;
using namespace talmo::test;

namespace {

using Mode = sim::Talmo::Mode;

struct Program : UpdaterRig {
    QString previousFolder = QDir::currentPath();
    std::unique_ptr<MainWindow> window;
    int webOpened = 0;

    // The default firmware path is talmo.hex in the working folder.
    Program() : UpdaterRig(Mode::Normal, false) {
        QDir::setCurrent(QString::fromStdString(dir.path));
        load(Firmware(1, "TALMO V0.23"));
        window = std::make_unique<MainWindow>(link, ui, createStandardPage);
        window->urlOpener = [this](const QString&) { ++webOpened; };
    }
    ~Program() {
        window.reset();
        QDir::setCurrent(previousFolder);
    }

    BootLoaderPage* page() const {
        return static_cast<BootLoaderPage*>(window->page(PageKind::BootLoader));
    }
    QString text(PageKind kind, int id) const { return Shown(*window->page(kind), id); }
    QString text(int id) const { return text(PageKind::BootLoader, id); }
    void click(int id) { page()->control<QPushButton>(id)->click(); }

    // Console page: the Auto box as asked, then "Mise à jour"; the device
    // comes back in its boot loader.
    void requestUpdate(bool tickAuto) {
        Page* console = window->page(PageKind::Console);
        if (tickAuto)
            console->control<QCheckBox>(kCtlAutoBox)->click();
        console->control<QPushButton>(kCtlUpdateButton)->click();
        window->processDeviceEvents();
        QCOMPARE(window->currentPageKind(), PageKind::BootLoader);
    }
};

} // namespace

class UpdaterWindowTest : public QObject {
    Q_OBJECT
private slots:
    void automaticUpdateBringsTheNewVersionBack() {
        Program p;
        const Firmware file(2, "TALMO V0.31");
        p.write("talmo.hex", file.hexText());
        QCOMPARE(p.text(PageKind::Console, kCtlVersionText), QStringLiteral("TALMO V0.23"));
        p.requestUpdate(true);
        // Programmed and sent back before the show notification returned.
        QCOMPARE(p.device->mode(), Mode::Normal);
        QVERIFY(p.held() == file);
        QCOMPARE(p.text(BootLoaderPage::kDeviceVersionControl), QStringLiteral("TALMO V0.31"));
        QCOMPARE(p.text(BootLoaderPage::kFileVersionControl), QStringLiteral("TALMO V0.31"));
        QCOMPARE(p.ui.status(MessageField), std::string("Programmation: OK"));
        p.window->processDeviceEvents();
        QCOMPARE(p.window->currentPageKind(), PageKind::Console);
        QCOMPARE(p.text(PageKind::Console, kCtlVersionText), QStringLiteral("TALMO V0.31"));
        QVERIFY(p.ui.boxes().empty());
    }

    void automaticUpdateWithoutTalmoHexStaysInTheBootLoader() {
        Program p;
        p.requestUpdate(true);
        QCOMPARE(p.device->mode(), Mode::BootLoader); // the page's flow shows why
        QCOMPARE(p.text(BootLoaderPage::kBootLoaderVersionControl),
                 QStringLiteral("TALMO BOOT V1.02"));
        QCOMPARE(p.text(BootLoaderPage::kDeviceVersionControl), QStringLiteral("TALMO V0.23"));
        p.window->processDeviceEvents(); // nothing more happens
        QCOMPARE(p.window->currentPageKind(), PageKind::BootLoader);

        // "Retour TALMO": 'Z' alone, without waiting for an answer.
        const std::int64_t before = p.clock.nowUs();
        p.click(BootLoaderPage::kLeaveButton);
        QCOMPARE(p.ui.status(MessageField), std::string(""));
        QCOMPARE(p.device->mode(), Mode::Normal);
        QVERIFY(p.clock.nowUs() - before < 500'000);
        p.window->processDeviceEvents();
        QCOMPARE(p.window->currentPageKind(), PageKind::Console);
    }

    void controlsAndLabels() {
        Program p;
        const std::pair<int, const char*> controls[] = {
            {1011, "TALMO Vx.yz"}, {1052, "Sauvegarder"}, {1051, "-"},
            {1053, "Programmer"},  {1049, "-"},           {1044, "Retour TALMO"},
            {106, kWebSiteCaption}};
        for (auto [id, text] : controls)
            QCOMPARE(p.text(id), QString::fromUtf8(text));
        QStringList labels;
        for (QLabel* label : p.page()->findChildren<QLabel*>())
            labels << label->text();
        for (const char* label :
             {"Boot Loader Version:", "1. Sauvegarde du programme du PIC", "(optionnel)",
              "2. Programmer une autre version dans le PIC", "TALMO_Tools, Version"})
            QVERIFY2(labels.contains(QString::fromUtf8(label)), label);
        QCOMPARE(labels.count(QStringLiteral("Version:")), 2);

        const std::size_t exchanges = p.device->log().size(), events = p.ui.events().size();
        p.click(BootLoaderPage::kWebButton);
        QCOMPARE(p.webOpened, 1);
        for (int id : {0, 1011, 1049, 1050, 4002}) // not commands of the page
            p.page()->command(id);
        QCOMPARE(p.device->log().size(), exchanges);
        QCOMPARE(p.ui.events().size(), events);
    }

    void buttonsWithoutTheAutoBox() {
        Program p;
        p.requestUpdate(false);
        QCOMPARE(p.device->log().count('W'), std::size_t(0));
        p.ui.queueSavePath(p.path("backup.hex"));
        p.click(BootLoaderPage::kSaveButton);
        QVERIFY(ReadFile(p.path("backup.hex")) == Firmware(1, "TALMO V0.23").hexText());
        QCOMPARE(p.page()->firmwareSavePath(), p.path("backup.hex"));

        // "Programmer": the file's version shows while asking. The device
        // re-enumerates meanwhile and the page is shown again from inside the
        // box: the file must still be what gets programmed, and the show
        // sequence runs once the work is over.
        const Firmware file(4, "TALMO V3.00");
        p.ui.queueOpenPath(p.write("v3.hex", file.hexText()));
        QString shownWhileAsking;
        p.ui.onBox = [&p, &shownWhileAsking] {
            shownWhileAsking = p.text(BootLoaderPage::kFileVersionControl);
            p.page()->pageShown();
        };
        const std::size_t mark = p.device->log().size();
        p.click(BootLoaderPage::kProgramButton);
        QCOMPARE(shownWhileAsking, QStringLiteral("TALMO V3.00"));
        QVERIFY(p.held() == file);
        QCOMPARE(p.device->log().size(), mark + 882);         // 880 blocks, then 'V' and 'R'
        QCOMPARE(p.ui.status(MessageField), std::string("")); // the later show emptied it
        QCOMPARE(p.text(BootLoaderPage::kDeviceVersionControl), QStringLiteral("TALMO V3.00"));
        QCOMPARE(p.text(BootLoaderPage::kFileVersionControl), QStringLiteral("-"));

        // The automatic update reads the file chosen, not talmo.hex.
        p.ui.onBox = nullptr;
        p.page()->command(BootLoaderPage::kAutoUpdateCommand);
        QCOMPARE(p.text(BootLoaderPage::kFileVersionControl), QStringLiteral("TALMO V3.00"));
        QCOMPARE(p.device->mode(), Mode::Normal);
    }
};

QTEST_MAIN(UpdaterWindowTest)
#include "test_updater_window.moc"
