#include "updater/bootloader_page.h"

namespace talmo {

BootLoaderPage::BootLoaderPage(AppContext& context, QWidget* parent) : Page(context, parent) {}

} // namespace talmo
