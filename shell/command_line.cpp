#include "shell/command_line.h"

#include "core/version.h"
#include "link/access_advice.h"
#include "link/device_link.h"

namespace talmo {

CommandLineAnswer ReadCommandLine(const std::string& program, const std::string& about,
                                  const std::vector<std::string>& args) {
    CommandLineAnswer answer;
    const std::string usage = "Usage : " + program + " [--help | --version]\n";
    if (args.empty()) {
        answer.startWindow = true;
    } else if (args.size() == 1 && args[0] == "--version") {
        answer.out = program + " " + kProgramVersion + "\n";
    } else if (args.size() == 1 && args[0] == "--help") {
        answer.out = usage + "\n" + about +
                     "\n"
                     "Options :\n"
                     "  --help      afficher cette aide et quitter\n"
                     "  --version   afficher la version et quitter\n"
                     "\n"
                     "Accès au TALMO :\n"
                     "  La règle udev du TALMO, " +
                     InstalledUdevRulePath() +
                     ",\n"
                     "  donne l'accès au TALMO à l'utilisateur de la session graphique, et aux\n"
                     "  membres du groupe plugdev (par SSH). Quand la barre d'état indique\n"
                     "  « " +
                     kTextAccessDenied +
                     " », sa bulle d'aide donne\n"
                     "  les commandes à lancer.\n"
                     "\n"
                     "Voir aussi talmo-cli(1), les mêmes travaux depuis un terminal.\n";
    } else {
        answer.status = 3;
        answer.err = program + " : argument refusé « " + args[0] + " »\n" + usage;
    }
    return answer;
}

} // namespace talmo
