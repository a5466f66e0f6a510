#include "link/page_choice.h"

#include "link/device_link.h"

namespace talmo {

PageChoice ChoosePage(bool connected, std::uint16_t productId) {
    using K = PageKind;
    if (!connected)
        return {K::Waiting,
                {{{K::BootLoader, false},
                  {K::Console, false},
                  {K::Waiting, true},
                  {K::Programmer, false}}}};
    if (productId == kTalmoProductId)
        return {K::Console,
                {{{K::Console, true},
                  {K::BootLoader, false},
                  {K::Waiting, false},
                  {K::Programmer, false}}}};
    return {K::BootLoader,
            {{{K::BootLoader, true},
              {K::Console, false},
              {K::Waiting, false},
              {K::Programmer, false}}}};
}

const char* PageName(PageKind page) {
    switch (page) {
    case PageKind::BootLoader:
        return "bootloader";
    case PageKind::Console:
        return "console";
    case PageKind::Waiting:
        return "waiting";
    case PageKind::Programmer:
        return "programmer";
    }
    return "?";
}

} // namespace talmo
