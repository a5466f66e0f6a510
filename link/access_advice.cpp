#include "link/access_advice.h"

namespace talmo {

std::string AccessDeniedAdvice(const std::string& node) {
    return "Un TALMO est branché mais l'accès à " + node +
           " est refusé.\n"
           "Installez la règle udev du TALMO (70-talmo.rules) dans /etc/udev/rules.d/, puis :\n"
           "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
           "et débranchez puis rebranchez le TALMO. Par SSH, votre compte doit être dans le "
           "groupe plugdev.";
}

} // namespace talmo
