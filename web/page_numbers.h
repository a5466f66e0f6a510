// Every number the page's script needs, from the program's own tables: the
// page kinds, each page's controls, the footer's and the pictures' files,
// handed to the script at start as one JSON text.
#pragma once

#include "link/page_choice.h"

#include <span>
#include <string>

namespace talmo {

// One control of a page, with the name the script knows it by.
struct NamedControl {
    const char* name;
    int id;
};

// The controls of a page, its footer's aside.
std::span<const NamedControl> PageControls(PageKind page);
std::span<const NamedControl> FooterControls();

// {"pages": {name: number}, "footer": {name: control},
//  "controls": {page name: {name: control}}, "pictures": {"number": file},
//  "devices": [{vendorId, productId}], "events": {name: number}}
std::string PageNumbersJson();

} // namespace talmo
