// One program run on the device emulator for the window tests: the virtual
// bus, the link, the scripted interface and, once started, the main window.
#pragma once

#include "shell/main_window.h"
#include "tests/common/rig.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace talmo::test {

using Mode = sim::Talmo::Mode;

// The connection field's text that goes with each page.
inline std::string connectionText(PageKind page) {
    return page == PageKind::Waiting      ? "USB: TALMO non connecté"
           : page == PageKind::BootLoader ? "USB: TALMO Boot Loader connecté"
                                          : "USB: TALMO connecté";
}

// An empty bus to plug TALMOs into.
struct ShellRig : Rig {
    sim::VirtualUsb& usb = bus;
    std::vector<std::string> opened; // addresses the window asked to open
    std::unique_ptr<MainWindow> window;

    ShellRig() : Rig(nullptr, false) {}
    // A TALMO in that mode; `before`: already there when the program starts.
    int plug(Mode mode, bool before = false) {
        const int id = backend.plug(sim::MakeTalmo(mode));
        if (before)
            backend.takeEvents();
        return id;
    }
    sim::Talmo& device(int id) { return *usb.device(id); }
    MainWindow& start(const MainWindow::PageFactory& makePage = {}) {
        window = std::make_unique<MainWindow>(link, ui, makePage);
        window->urlOpener = [this](const QString& a) { opened.push_back(a.toStdString()); };
        return *window;
    }
    // What the event notifier does when the bus has news.
    void deliver() { window->processDeviceEvents(); }
    PageKind current() const { return window->currentPageKind(); }
    std::vector<PageKind> visiblePages() const {
        std::vector<PageKind> out;
        for (int i = 0; i < kPageCount; ++i)
            if (!window->page(static_cast<PageKind>(i))->isHidden())
                out.push_back(static_cast<PageKind>(i));
        return out;
    }
};

} // namespace talmo::test
