#include "shell/page_choice.h"

namespace talmo {

namespace {
constexpr std::uint16_t kNormalModeProductId = 0x00AA;
}

PageChoice choosePage(bool connected, std::uint16_t productId) {
    using K = PageKind;
    if (!connected)
        return {K::Waiting,
                {{{K::BootLoader, false}, {K::Console, false}, {K::Waiting, true}, {K::Programmer, false}}}};
    if (productId == kNormalModeProductId)
        return {K::Console,
                {{{K::Console, true}, {K::BootLoader, false}, {K::Waiting, false}, {K::Programmer, false}}}};
    return {K::BootLoader,
            {{{K::BootLoader, true}, {K::Console, false}, {K::Waiting, false}, {K::Programmer, false}}}};
}

const char* pageName(PageKind page) {
    switch (page) {
    case PageKind::BootLoader: return "boot-loader";
    case PageKind::Console: return "console";
    case PageKind::Waiting: return "waiting";
    case PageKind::Programmer: return "programmer";
    }
    return "?";
}

} // namespace talmo
