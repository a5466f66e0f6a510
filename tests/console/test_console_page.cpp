// The console page on the device emulator: its layout, and its widgets
// wired to the console's flow (tests/console/test_console_flow.cpp runs the
// flow itself): the timer, the focus, the keyboard and the buttons.
#include "console/console_page.h"

#include "tests/common/page_rig.h"
#include "tests/common/rig.h"

#include <QCheckBox>
#include <QtTest>

#include <memory>

using namespace talmo;

namespace {

QString u(const char* s) { return QString::fromUtf8(s); }

// A console page on a virtual TALMO.
struct Rig : test::Rig {
    test::FakeShell shell;
    AppContext context{&link, &ui, &shell};
    std::unique_ptr<ConsolePage> page = std::make_unique<ConsolePage>(context, nullptr);

    Rig() { page->show(); }
    sim::ExchangeLog& log() { return dev->log(); }
    sim::Machine& machine() { return dev->machine(); }
    QString shown(int id) const { return test::Shown(*page, id); }
    QSlider* slider(int id) const { return page->control<QSlider>(id); }
    QLineEdit* edit() const { return page->control<QLineEdit>(kCtlInputLevelEdit); }
    void click(int id) { QTest::mouseClick(page->control<QPushButton>(id), Qt::LeftButton); }
    // One poll period on the virtual clock, then the timer's tick.
    std::size_t poll() {
        const std::size_t m = mark();
        clock.sleepMs(kConsolePollPeriodMs);
        page->pollStatus();
        return m;
    }
    std::vector<std::uint8_t> pwmSent(std::size_t from) {
        return log().requestBytes(sim::Match('P').byte(2, 1), 3, from);
    }
};

using Bytes = std::vector<std::uint8_t>;

} // namespace

class ConsolePageTest : public QObject {
    Q_OBJECT
private slots:
    // Shown, the page draws the start sequence and what the poll reads on its
    // widgets; its timer runs the poll, on the facade's clock, until the page
    // is hidden; its buttons reach the flow and the shell.
    void showTimerAndButtons() {
        Rig rig;
        rig.machine().keypadAbsent = rig.machine().stopProg = true;
        rig.page->pageShown();
        QCOMPARE(rig.shown(kCtlVersionText), u("TALMO V0.23"));
        QCOMPARE(rig.shown(kCtlFlashSizeText), u("2 Mo (16 Mbit)"));
        QVERIFY(rig.page->polling());
        const std::size_t shown = rig.mark();
        QTest::qWait(120);
        QCOMPARE(rig.log().count('I', shown), std::size_t(0)); // no 50 ms on its clock yet
        rig.clock.sleepMs(kConsolePollPeriodMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.log().count('I', shown), std::size_t(1), 2000);
        QCOMPARE(rig.page->displayedAnswers(), 1);
        QCOMPARE(rig.shown(kCtlStopPicture), u("148"));
        QVERIFY(!rig.page->control(kCtlKeypadMissingText)->isHidden());
        QVERIFY(!rig.page->control<QLabel>(kCtlStopPicture)->pixmap().isNull());
        // The buttons, to the flow and the shell.
        rig.click(kCtlMotorButton);
        QVERIFY(rig.machine().motorsOn);
        const std::size_t lcd = rig.mark();
        rig.click(kCtlLcdTestButton);
        QCOMPARE(rig.log().count('L', lcd), std::size_t(2 + 80 + 3));
        rig.click(kCtlProgrammerButton);
        rig.click(kWebSiteButton);
        QVERIFY(rig.shell.programmerShown == 1 && rig.shell.webOpened == 1);
        rig.page->control<QCheckBox>(kCtlAutoBox)->click();
        QVERIFY(rig.page->autoUpdateTicked());
        rig.page->pageHidden();
        rig.clock.sleepMs(kConsolePollPeriodMs);
        const std::size_t stopped = rig.mark();
        QTest::qWait(120);
        QCOMPARE(rig.mark(), stopped);
        QVERIFY(!rig.page->polling());
        rig.click(kCtlUpdateButton);
        QVERIFY(rig.dev->mode() == sim::Talmo::Mode::BootLoader);
    }

    // The poll leaves the slider being used alone; the edit losing the focus
    // asks the level again and sends it back. The slider's moves, its keyboard
    // steps and the end of a drag send; the edit's keystrokes too (letters
    // refused); the display-only slider sends nothing.
    void pwmControls() {
        Rig rig;
        rig.page->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.page.get()));
        rig.page->pageShown();
        rig.edit()->setFocus();
        rig.machine().pwmLevel = 253;
        std::size_t m = rig.mark();
        QSlider* s = rig.slider(kCtlInputLevelSlider);
        s->setFocus();
        QCOMPARE(rig.edit()->text(), u(" 99"));
        rig.machine().pwmLevel = 128;
        rig.poll();
        QCOMPARE(rig.shown(kCtlInputLevelSlider), u("0"));
        QCOMPARE(rig.edit()->text(), u(" 50"));
        QCOMPARE(rig.pwmSent(m), Bytes({253, 128})); // once each: no keystrokes of the page's
        m = rig.mark();
        s->setSliderPosition(50);
        QTest::keyClick(s, Qt::Key_Left);
        emit s->sliderReleased();
        rig.slider(kCtlInputLevel2Slider)->setSliderPosition(30);
        QTest::keyClicks(rig.edit(), "1a");
        rig.edit()->selectAll();
        QTest::keyClick(rig.edit(), Qt::Key_Delete);
        QCOMPARE(rig.edit()->text(), u(""));
        QCOMPARE(rig.pwmSent(m), Bytes({128, 125, 125, 255, 0})); // " 501", then ""
    }
};

QTEST_MAIN(ConsolePageTest)
#include "test_console_page.moc"
