#include "programmer/programmer_page.h"

namespace talmo {

ProgrammerPage::ProgrammerPage(AppContext& context, QWidget* parent) : Page(context, parent) {}

} // namespace talmo
