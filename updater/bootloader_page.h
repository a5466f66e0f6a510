#pragma once

#include "shell/page.h"

namespace talmo {

class BootLoaderPage : public Page {
    Q_OBJECT
public:
    BootLoaderPage(AppContext& context, QWidget* parent);
};

} // namespace talmo
