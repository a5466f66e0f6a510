// The programmer page: its controls, what showing it does, and its buttons,
// on the emulated board.
#include "programmer/programmer_page.h"

#include "emulator.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace talmo;
using namespace talmo::test;

namespace {

class FakeShell : public Shell {
public:
    FakeShell() {
        back_ = QPixmap(32, 24);
        back_.fill(Qt::green);
    }
    void showProgrammerPage() override {}
    void returnToConsolePage() override { ++returned; }
    const QPixmap& picture(int id) const override { return id == 169 && withPicture ? back_ : none_; }
    bool autoUpdateTicked() const override { return false; }
    std::string& firmwarePath() override { return path; }
    void openWebSite() override { ++webOpened; }

    bool withPicture = true;
    int returned = 0;
    int webOpened = 0;
    std::string path = "./talmo.hex";

private:
    QPixmap back_, none_;
};

struct Rig {
    Emulator e{sim::PicChip::F877A, 4};
    FakeShell shell;
    AppContext context;
    std::unique_ptr<ProgrammerPage> page;

    Rig() {
        context.link = &e.link;
        context.ui = &e.ui;
        context.shell = &shell;
        page = std::make_unique<ProgrammerPage>(context, nullptr);
    }
    QString text(int id) const {
        if (auto* label = page->control<QLabel>(id))
            return label->text();
        if (auto* button = page->control<QPushButton>(id))
            return button->text();
        return QStringLiteral("<missing>");
    }
    void click(int id) { QTest::mouseClick(page->control<QPushButton>(id), Qt::LeftButton); }
};

} // namespace

class ProgrammerPageTest : public QObject {
    Q_OBJECT
private slots:
    void controlsCarryTheirNumbersAndTexts() {
        Rig r;
        const std::pair<int, const char*> controls[] = {
            {1043, "Identifier"}, {1045, "Sauvegarder"}, {1046, "Programmer"}, {1047, "-"},
            {1048, "-"},          {1049, "-"},           {1050, "1.0"},        {106, "Site web TALMO"},
        };
        for (auto [id, text] : controls)
            QCOMPARE(r.text(id), QString::fromUtf8(text));
        QVERIFY(r.page->control<QPushButton>(1044) != nullptr);
        const char* labels[] = {
            "1. Mettre la VELKOR en mode programmation: J8 sur PRGM",
            "2. Identification automatique du PIC et version VELKOR",
            "3. Sauvegarde du programme du PIC",
            "4. Programmer une autre version dans le PIC",
            "5. Mettre la VELKOR en mode normal: J8 sur NORMAL",
            "(optionnel)", "PIC:", "Version:", "TALMO_Tools, Version",
        };
        QStringList shown;
        for (auto* label : r.page->findChildren<QLabel*>())
            shown << label->text();
        for (const char* l : labels)
            QVERIFY2(shown.contains(QString::fromUtf8(l)), l);
        QCOMPARE(shown.count(QStringLiteral("(optionnel)")), 2);
        QCOMPARE(shown.count(QStringLiteral("Version:")), 2);
    }

    void showingPutsThePictureAndResets() {
        Rig r;
        r.click(1043);
        QCOMPARE(r.text(1047), QStringLiteral("PIC16F877A Rev04"));
        QCOMPARE(r.text(1048), QStringLiteral("VELKOR V2.10 14/03/2011"));
        const auto from = r.e.mark();
        r.page->pageShown();
        auto* back = r.page->control<QPushButton>(1044);
        QVERIFY(!back->icon().isNull());
        QVERIFY(back->text().isEmpty());
        QCOMPARE(back->accessibleName(), QStringLiteral("Retour TALMO"));
        for (int id : {1047, 1048, 1049})
            QCOMPARE(r.text(id), QStringLiteral("-"));
        QCOMPARE(r.e.dev->log().size() - from, std::size_t{2});
        QCOMPARE(r.e.dev->log().entries()[from].request[1], std::uint8_t{'B'});
        QVERIFY(!r.page->state().ident.identified());

        // Without its picture the button still says what it does.
        r.shell.withPicture = false;
        r.page->pageShown();
        QCOMPARE(back->text(), QStringLiteral("Retour TALMO"));
    }

    void buttonsRunTheirCommands() {
        Rig r;
        r.page->pageShown();
        r.click(1043);
        QCOMPARE(r.text(1048), QStringLiteral("VELKOR V2.10 14/03/2011"));
        r.click(1045); // save dialog cancelled
        QCOMPARE(r.e.ui.events().back().kind, UiEvent::SaveDialog);
        r.click(1046); // open dialog cancelled
        QCOMPARE(r.e.ui.events().back().kind, UiEvent::OpenDialog);
        QVERIFY(r.page->state().ident.identified());

        r.e.ui.setStatusText(MessageField, "Lecture: OK");
        const auto from = r.e.mark();
        r.click(1044);
        QCOMPARE(r.shell.returned, 1);
        QCOMPARE(r.e.ui.status(MessageField), std::string());
        QCOMPARE(r.e.dev->log().size(), from);

        r.click(106);
        QCOMPARE(r.shell.webOpened, 1);
        r.page->command(9999);
        QCOMPARE(r.e.dev->log().size(), from);
    }

    void aProtectedPicShowsTheNotice() {
        Rig r;
        r.e.pic()->setConfigWord(0x1F72);
        r.page->pageShown();
        r.click(1043);
        QCOMPARE(r.text(1048), QStringLiteral("PIC protégé contre la lecture"));
        QVERIFY(r.e.ui.boxes().empty());
    }
};

QTEST_MAIN(ProgrammerPageTest)
#include "test_programmer_page.moc"
