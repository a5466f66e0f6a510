#pragma once

#include "shell/page.h"

namespace talmo {

class ConsolePage : public Page {
    Q_OBJECT
public:
    ConsolePage(AppContext& context, QWidget* parent);
};

} // namespace talmo
