// The commands of talmo-cli, one entry each: its words, its file, its own
// options, its help and the function that runs it (cli_commands.h). Adding a
// command is adding its entry here and its function.
#include "cli/cli_commands.h"
#include "cli/cli_options.h"

namespace talmo::cli {

namespace {

using enum FileArgument;
using enum Target;

const CommandSpec kCommands[] = {
    {"status", "", None, kOptWatch | kOptJson, Device, "status [--watch|--json]",
     "version, table, flash et état du TALMO", "",
     "Affiche la version du firmware, la mémoire flash, la table de configuration\n"
     "et les axes, puis l'état du TALMO : entrée et sortie PWM, clavier, moteurs,\n"
     "fins de course et palpeurs. La commande ne change rien au TALMO : un\n"
     "firmware trop ancien est signalé (code 1) sans envoyer le TALMO dans son\n"
     "boot loader ; en mode boot loader, la version du boot loader et celle du\n"
     "firmware sont affichées (code 0). Une réponse perdue est une erreur de\n"
     "communication (code 1).\n"
     "\n"
     "  --watch   rafraîchir l'état à chaque changement, jusqu'à Ctrl+C\n"
     "  --json    un objet JSON sur la sortie standard, clés stables :\n"
     "            mode (\"normal\" ou \"boot loader\"), version, too_old,\n"
     "            boot_loader_version, flash {manufacturer, type, size,\n"
     "            protection}, table {name, frequency, axes, accel, pwm_max,\n"
     "            auto_on_off, contacts, signal_inverted}, state {pwm_input,\n"
     "            pwm_output, io1, stop_prog, motors, limit_switches, probes,\n"
     "            keypad} ; une clé sans valeur vaut null\n",
     RunStatus},
    {"firmware", "save", Out, 0, Device, "firmware save FICHIER",
     "sauvegarder le firmware du TALMO", "sauvegarder le firmware du TALMO",
     "Enregistre le firmware du TALMO (zone application et EEPROM) dans le fichier\n"
     "Intel HEX FICHIER. En mode normal, le TALMO est d'abord envoyé dans son boot\n"
     "loader ; à la fin il en sort et la version qui tourne est affichée.\n",
     RunFirmwareSave},
    {"firmware", "program", HexIn, kOptYes | kOptForce | kOptNoVerify, Device,
     "firmware program FICHIER [--yes] [--force] [--no-verify]",
     "programmer un firmware dans le TALMO, puis\n"
     "le relire et le comparer au fichier",
     "programmer un firmware dans le TALMO",
     "Programme le firmware du fichier Intel HEX FICHIER dans le TALMO, comme la\n"
     "mise à jour automatique de la fenêtre : le fichier est lu d'abord (un fichier\n"
     "refusé ne touche pas au TALMO), la version du fichier et celle qui tourne\n"
     "sont affichées et la commande demande confirmation, puis le TALMO passe en\n"
     "boot loader s'il est en mode normal, le firmware est écrit, relu et comparé\n"
     "au fichier, le TALMO sort du boot loader et la version qui tourne est\n"
     "affichée. En cas d'erreur de programmation ou de différence, le TALMO reste\n"
     "dans son boot loader, où la commande peut être relancée.\n"
     "\n"
     "Sont refusés : un fichier sans donnée ou sans enregistrement de fin (coupé),\n"
     "et, sauf avec --force, un fichier sans texte de version « TALMO » à 0x130C\n"
     "ou avec des données hors de la zone du firmware (un fichier de PIC).\n"
     "\n"
     "  -y, --yes     programmer sans demander confirmation\n"
     "  --force       programmer aussi un fichier sans version ou hors zone\n"
     "  --no-verify   ne pas relire le firmware écrit\n",
     RunFirmwareProgram},
    {"firmware", "verify", HexIn, 0, Device, "firmware verify FICHIER",
     "comparer le firmware du TALMO au fichier", "comparer le firmware au fichier",
     "Relit le firmware du TALMO (zone application et EEPROM) et le compare au\n"
     "fichier Intel HEX FICHIER : la première différence est nommée avec le nombre\n"
     "d'octets différents (code 5). Le TALMO passe en boot loader s'il est en mode\n"
     "normal et revient en mode normal à la fin.\n",
     RunFirmwareVerify},
    {"firmware", "leave", None, 0, Device, "firmware leave",
     "faire sortir le TALMO de son boot loader", "sortir du boot loader",
     "Fait sortir le TALMO de son boot loader sans le reprogrammer et affiche la\n"
     "version qui tourne. Un TALMO déjà en mode normal n'est pas touché.\n",
     RunFirmwareLeave},
    {"pic", "identify", None, kOptJson, BoardPic, "pic identify [--json]",
     "identifier le PIC et la version VELKOR", "identifier le PIC et la version VELKOR",
     "Identifie le PIC de la carte VELKOR (mettre J8 sur PRGM), puis lit son\n"
     "programme pour afficher la version VELKOR. Un PIC protégé n'est pas lu.\n"
     "\n"
     "  --json   un objet JSON sur la sortie standard, clés stables : pic, version,\n"
     "           protected, program_words, eeprom_bytes, config_word ; une clé\n"
     "           sans valeur vaut null\n",
     RunPicIdentify},
    {"pic", "read", Out, 0, BoardPic, "pic read FICHIER", "lire le PIC et l'enregistrer",
     "lire le PIC et l'enregistrer",
     "Identifie et lit le PIC de la carte VELKOR, puis enregistre son programme,\n"
     "son EEPROM, ses mots ID et son mot de configuration dans le fichier Intel\n"
     "HEX FICHIER. Un PIC protégé contre la lecture est refusé : rien n'est écrit.\n",
     RunPicRead},
    {"pic", "program", HexIn, kOptYes | kOptForce, BoardPic,
     "pic program FICHIER [--yes] [--force]", "programmer et vérifier le PIC",
     "programmer et vérifier le PIC",
     "Lit le fichier Intel HEX FICHIER, identifie le PIC de la carte VELKOR, met à 1\n"
     "le bit 7 du mot de configuration, demande confirmation, puis efface, programme\n"
     "et vérifie le PIC.\n"
     "\n"
     "Sont refusés : un fichier sans donnée ou sans enregistrement de fin (coupé),\n"
     "et, sauf avec --force, un fichier dont les données dépassent la mémoire\n"
     "programme ou l'EEPROM du PIC identifié (elles seraient perdues).\n"
     "\n"
     "  -y, --yes   programmer sans demander confirmation\n"
     "  --force     programmer aussi un fichier plus grand que le PIC\n",
     RunPicProgram},
    {"pic", "verify", HexIn, 0, BoardPic, "pic verify FICHIER", "comparer le PIC au fichier",
     "comparer le PIC au fichier",
     "Identifie et lit le PIC de la carte VELKOR, puis compare sa mémoire de\n"
     "programme, ses mots ID et son EEPROM au fichier Intel HEX FICHIER : la\n"
     "première différence est nommée avec le nombre de mots différents (code 5).\n"
     "Le mot de configuration n'est pas comparé. Un PIC protégé n'est pas lu.\n",
     RunPicVerify},
    {"pic", "blank-check", None, 0, BoardPic, "pic blank-check", "vérifier que le PIC est vierge",
     "vérifier que le PIC est vierge",
     "Identifie et lit le PIC de la carte VELKOR, puis vérifie que sa mémoire de\n"
     "programme et ses mots ID valent 0x3FFF et son EEPROM 0xFF : le premier mot\n"
     "écrit est nommé avec leur nombre (code 5).\n",
     RunPicBlankCheck},
    {"pic", "erase", None, kOptYes, BoardPic, "pic erase [--yes]", "effacer le PIC",
     "effacer le PIC",
     "Identifie le PIC de la carte VELKOR, demande confirmation, puis l'efface\n"
     "comme la programmation le fait d'abord (protection comprise).\n"
     "\n"
     "  -y, --yes   effacer sans demander confirmation\n",
     RunPicErase},
    {"hex", "check", HexIn, kOptPic | kOptFirmware, Files, "hex check FICHIER --pic|--firmware",
     "vérifier un fichier HEX", "",
     "Lit FICHIER avec le lecteur du programme et affiche son message d'erreur, ou\n"
     "un résumé (mots ou octets utilisés, version trouvée) précédé de « OK » ou\n"
     "des raisons de refuser de le programmer (pas de donnée, pas d'enregistrement\n"
     "de fin ; pour un firmware, pas de version ou des données hors zone). Le\n"
     "code de sortie est 0 seulement si le fichier peut être programmé.\n"
     "\n"
     "  --pic        fichier pour le PIC de la carte VELKOR\n"
     "  --firmware   fichier de firmware du TALMO\n",
     RunHexCheck},
};

// Where the summaries start in each group's help (a group of one command
// shows that command's usage alone).
const CommandGroup kGroups[] = {{"firmware", 20}, {"pic", 27}};

} // namespace

std::span<const CommandSpec> Commands() { return kCommands; }
std::span<const CommandGroup> CommandGroups() { return kGroups; }

} // namespace talmo::cli
