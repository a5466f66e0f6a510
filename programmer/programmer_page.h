#pragma once

#include "shell/page.h"

namespace talmo {

class ProgrammerPage : public Page {
    Q_OBJECT
public:
    ProgrammerPage(AppContext& context, QWidget* parent);
};

} // namespace talmo
