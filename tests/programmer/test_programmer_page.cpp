// The programmer page's controls, what showing it does, and its buttons, on
// the emulated board.
#include "programmer/programmer_page.h"

#include "emulator.h"
#include "programmer/target_commands.h"
#include "tests/common/page_rig.h"

#include <QtTest>

#include <algorithm>

using namespace talmo;
using namespace talmo::test;

namespace {

struct PageRig {
    Emulator e{sim::PicChip::F877A, 4};
    FakeShell shell;
    AppContext context{&e.link, &e.ui, &shell};
    ProgrammerPage page{context, nullptr};

    QString text(int id) { return Shown(page, id); }
    void click(int id) { QTest::mouseClick(page.control<QPushButton>(id), Qt::LeftButton); }
};

} // namespace

class ProgrammerPageTest : public QObject {
    Q_OBJECT
private slots:
    void controlsCarryTheirNumbersAndTexts() {
        PageRig r;
        const std::pair<int, const char*> controls[] = {
            {1043, "Identifier"}, {1045, "Sauvegarder"},
            {1046, "Programmer"}, {1047, "-"},
            {1048, "-"},          {1049, "-"},
            {1050, "1.0"},        {106, "Site web TALMO"},
        };
        for (auto [id, text] : controls)
            QCOMPARE(r.text(id), QString::fromUtf8(text));
        QStringList shown;
        for (auto* label : r.page.findChildren<QLabel*>())
            shown << label->text();
        for (const char* l :
             {"1. Mettre la VELKOR en mode programmation: J8 sur PRGM",
              "2. Identification automatique du PIC et version VELKOR",
              "3. Sauvegarde du programme du PIC", "4. Programmer une autre version dans le PIC",
              "5. Mettre la VELKOR en mode normal: J8 sur NORMAL", "PIC:", "TALMO_Tools, Version"})
            QVERIFY2(shown.contains(QString::fromUtf8(l)), l);
        QCOMPARE(shown.count(QStringLiteral("(optionnel)")), 2);
        QCOMPARE(shown.count(QStringLiteral("Version:")), 2);
    }

    void showingResetsAndButtonsRunTheirCommands() {
        PageRig r;
        r.click(1043);
        QCOMPARE(r.text(1047), QStringLiteral("PIC16F877A Rev04"));
        QCOMPARE(r.text(1048), QStringLiteral("VELKOR V2.10 14/03/2011"));

        // Showing: the picture on the back button, every text and the
        // identification reset, 'B' then a leave; the message field stays.
        auto from = r.e.mark();
        r.page.pageShown();
        auto* back = r.page.control<QPushButton>(1044);
        QVERIFY(!back->icon().isNull() && back->text().isEmpty());
        QCOMPARE(back->accessibleName(), QStringLiteral("Retour TALMO"));
        for (int id : {1047, 1048, 1049})
            QCOMPARE(r.text(id), QStringLiteral("-"));
        const auto& log = r.e.dev->log().entries();
        QCOMPARE(log.size() - from, std::size_t{2});
        QCOMPARE(log[from].request[1], std::uint8_t{'B'});
        QCOMPARE(log[from].request[2], std::uint8_t{0});
        QCOMPARE(log[from + 1].request[1], std::uint8_t{'Y'});
        QCOMPARE(log[from + 1].request[2], std::uint8_t{kTargetLeave});
        QVERIFY(!r.page.state().ident.identified());
        QVERIFY(std::all_of(r.page.state().image.entries.begin(),
                            r.page.state().image.entries.end(),
                            [](std::uint32_t v) { return v == 0x3FFF; }));
        QCOMPARE(r.e.ui.status(MessageField), std::string("Lecture: OK"));

        // Without its picture the back button says what it does.
        r.shell.withPictures = false;
        r.page.pageShown();
        QCOMPARE(back->text(), QStringLiteral("Retour TALMO"));

        r.click(1045); // the save dialog, cancelled
        QCOMPARE(r.e.ui.events().back().kind, UiEvent::SaveDialog);
        r.click(1046); // identification, then the open dialog, cancelled
        QCOMPARE(r.e.ui.events().back().kind, UiEvent::OpenDialog);
        QVERIFY(r.page.state().ident.identified());
        from = r.e.mark();
        r.click(1044);
        QCOMPARE(r.shell.returned, 1);
        QCOMPARE(r.e.ui.status(MessageField), std::string());
        r.click(106);
        QCOMPARE(r.shell.webOpened, 1);
        r.page.command(9999);
        QCOMPARE(r.e.mark(), from);
    }
};

QTEST_MAIN(ProgrammerPageTest)
#include "test_programmer_page.moc"
