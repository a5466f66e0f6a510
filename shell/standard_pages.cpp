#include "console/console_page.h"
#include "programmer/programmer_page.h"
#include "shell/main_window.h"
#include "shell/waiting_page.h"
#include "updater/bootloader_page.h"

namespace talmo {

Page* createStandardPage(PageKind kind, AppContext& context, QWidget* parent) {
    switch (kind) {
    case PageKind::BootLoader:
        return new BootLoaderPage(context, parent);
    case PageKind::Console:
        return new ConsolePage(context, parent);
    case PageKind::Waiting:
        return new WaitingPage(context, parent);
    case PageKind::Programmer:
        return new ProgrammerPage(context, parent);
    }
    return nullptr;
}

} // namespace talmo
