// Which page the program shows for a state of the device link (the window
// and the web page alike), and the order in which the window shows and hides
// the four pages to get there.
#pragma once

#include <array>
#include <cstdint>

namespace talmo {

// The four pages, in the order the window creates them.
enum class PageKind {
    BootLoader = 0,
    Console = 1,
    Waiting = 2,
    Programmer = 3
};
inline constexpr int kPageCount = 4;

struct PageStep {
    PageKind page;
    bool show; // false: hide
};

struct PageChoice {
    PageKind current;                       // becomes the current page before the steps
    std::array<PageStep, kPageCount> steps; // show and hide calls, in order
};

// No device: the waiting page; the TALMO in normal mode (0x00AA): the
// console page; any other product ID: the boot-loader page. The programmer
// page is always hidden.
PageChoice ChoosePage(bool connected, std::uint16_t productId);

// The page's name: "bootloader", "console", "waiting", "programmer" (the web
// page's markup names its pages so).
const char* PageName(PageKind page);

} // namespace talmo
