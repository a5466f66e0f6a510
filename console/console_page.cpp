#include "console/console_page.h"

namespace talmo {

ConsolePage::ConsolePage(AppContext& context, QWidget* parent) : Page(context, parent) {}

} // namespace talmo
