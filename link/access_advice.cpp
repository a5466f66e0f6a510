#include "link/access_advice.h"

#include <sys/stat.h>

namespace talmo {

namespace {

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool InFolder(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path.find('/', folder.size()) == std::string::npos;
}

} // namespace

std::string AccessDeniedAdvice(const std::string& node) {
    return AccessDeniedAdvice(node, UdevRulePath());
}

std::string AccessDeniedAdvice(const std::string& node, const std::string& rulePath) {
    // The folders udev reads its rules from.
    bool readByUdev = false;
    for (const char* folder : {"/etc/udev/rules.d/", "/usr/lib/udev/rules.d/", "/lib/udev/rules.d/",
                               "/run/udev/rules.d/"})
        readByUdev = readByUdev || InFolder(rulePath, folder);

    std::string text = "Un TALMO est branché mais l'accès à " + node + " est refusé.\n";
    if (readByUdev)
        text += "La règle udev du TALMO est en place (" + rulePath +
                ") ; faites-la relire par udev :\n";
    else
        text += "Installez la règle udev du TALMO, puis faites-la relire par udev :\n"
                "  sudo install -m 644 " +
                rulePath + " /etc/udev/rules.d/70-talmo.rules\n";
    text += "  sudo udevadm control --reload-rules\n"
            "  sudo udevadm trigger --subsystem-match=hidraw\n"
            "puis débranchez et rebranchez le TALMO.\n"
            "Par SSH (hors d'une session graphique), votre compte doit aussi être dans le\n"
            "groupe plugdev :\n"
            "  sudo usermod -aG plugdev $USER\n"
            "puis reconnectez-vous.";
    return text;
}

std::string InstalledUdevRulePath() { return TALMO_INSTALLED_UDEV_RULE; }

std::string UdevRulePath() {
    for (const char* path :
         {TALMO_INSTALLED_UDEV_RULE, "/etc/udev/rules.d/70-talmo.rules", TALMO_SOURCE_UDEV_RULE})
        if (IsFile(path))
            return path;
    return TALMO_INSTALLED_UDEV_RULE;
}

} // namespace talmo
