// Pictures of the programmer page in the program on the emulator: after
// "Identifier" on the board's PIC16F876A, and after "Identifier" on a
// protected PIC16F877. Each picture is the main window as drawn
// (QWidget::grab).
//
//   programmer_screenshots <folder>
#include "bench/common/demo_window.h"
#include "programmer/programmer_flow.h"
#include "programmer/programmer_page.h"
#include "sim/board_firmware.h"

#include <QApplication>

using namespace talmo;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = bench::PictureFolder(argc, argv);
    bench::DemoWindow demo;
    bench::RunFor(300);

    bool ok = true;
    auto shoot = [&](const QString& name) {
        bench::RunFor(300);
        ok = demo.shoot(folder, name) && ok;
    };

    demo.window->showProgrammerPage();
    auto* page = dynamic_cast<ProgrammerPage*>(demo.window->page(PageKind::Programmer));
    if (!page) {
        std::fprintf(stderr, "no programmer page\n");
        return 1;
    }
    page->command(kProgrammerIdentifyButton);
    shoot(QStringLiteral("programmer-identified.png"));

    sim::Pic pic(sim::PicChip::F877, 6);
    sim::LoadBoardFirmware(pic);
    pic.setConfigWord(0x0F72); // all program memory protected
    demo.device->setPic(pic);
    demo.window->returnToConsolePage();
    bench::RunFor(200);
    demo.window->showProgrammerPage();
    page->command(kProgrammerIdentifyButton);
    shoot(QStringLiteral("programmer-protected.png"));
    return ok ? 0 : 1;
}
