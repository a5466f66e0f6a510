#include "cli/cli_options.h"

#include "core/version.h"

#include <optional>

namespace talmo::cli {

namespace {

const char kCommonOptions[] =
    "Options communes à toutes les commandes :\n"
    "  --device CHEMIN     employer le TALMO de ce chemin (/dev/hidrawN) quand\n"
    "                      plusieurs sont branchés ; sans elle, le premier trouvé\n"
    "  --log FICHIER       ajouter chaque échange avec le TALMO à FICHIER, une ligne\n"
    "                      par échange : temps en ms, requête et réponse (65 octets\n"
    "                      en hexadécimal chacune, « - » sans réponse)\n"
    "  -q, --quiet         ni barre de progression ni textes de connexion\n"
    "  -v, --verbose       chaque texte de progression sur sa ligne, et le chemin\n"
    "                      du TALMO employé\n"
    "  --simulate DOSSIER  travailler sur le TALMO virtuel de l'émulateur ; l'état\n"
    "                      de la carte virtuelle (mémoire du TALMO, PIC et ses\n"
    "                      mémoires) est gardé dans DOSSIER d'une commande à\n"
    "                      l'autre, et chaque échange est ajouté à\n"
    "                      DOSSIER/exchanges.log\n"
    "  --sim-pic NOM       pour un nouveau DOSSIER : le PIC de la carte virtuelle,\n"
    "                      de PIC16F873 à PIC16F877A (défaut : PIC16F877A)\n"
    "  --sim-protected     pour un nouveau DOSSIER : PIC protégé contre la lecture\n"
    "  -h, --help          afficher l'aide de la commande\n"
    "  --version           afficher la version de talmo-cli\n"
    "\n"
    "Ctrl+C, la fermeture du terminal (SIGHUP) et SIGTERM laissent l'opération en\n"
    "cours aller jusqu'au bout ; un deuxième signal l'arrête au prochain échange,\n"
    "fait sortir le PIC du mode programmation et termine avec le code 8.\n";

const char kExitStatuses[] =
    "Codes de sortie :\n"
    "  0  succès\n"
    "  1  erreur du TALMO ou de la carte (pas de réponse, refus, firmware trop\n"
    "     ancien, mode boot loader quand le mode normal est demandé)\n"
    "  2  erreur de fichier (lecture, écriture, contenu refusé)\n"
    "  3  ligne de commande incorrecte\n"
    "  4  aucun TALMO connecté (ou aucun au chemin de --device)\n"
    "  5  vérification : le TALMO ou le PIC diffère du fichier (ou n'est pas vierge)\n"
    "  6  TALMO présent, accès refusé (droits du périphérique)\n"
    "  7  TALMO présent, utilisé par un autre programme\n"
    "  8  annulé (réponse non à la question, ou arrêt par un signal)\n";

std::string WithCommon(const std::string& text) {
    return text + "\n" + kCommonOptions + "\n" + kExitStatuses;
}

using Words = std::vector<std::string>;

ParseResult Fail(std::string message) {
    ParseResult r;
    r.error = std::move(message);
    return r;
}

std::optional<Command> CommandOf(const Words& w, std::string* error) {
    if (w.size() == 0) {
        *error = "commande manquante";
        return std::nullopt;
    }
    const std::string& group = w[0];
    const std::string sub = w.size() > 1 ? w[1] : "";
    if (group == "status")
        return Command::Status;
    if (group == "firmware") {
        if (sub == "save")
            return Command::FirmwareSave;
        if (sub == "program")
            return Command::FirmwareProgram;
        if (sub == "verify")
            return Command::FirmwareVerify;
        if (sub == "leave")
            return Command::FirmwareLeave;
        *error = sub.empty() ? "firmware : sous-commande manquante (save, program, verify ou leave)"
                             : "firmware : sous-commande inconnue « " + sub + " »";
        return std::nullopt;
    }
    if (group == "pic") {
        if (sub == "identify")
            return Command::PicIdentify;
        if (sub == "read")
            return Command::PicRead;
        if (sub == "program")
            return Command::PicProgram;
        if (sub == "verify")
            return Command::PicVerify;
        if (sub == "blank-check")
            return Command::PicBlankCheck;
        if (sub == "erase")
            return Command::PicErase;
        *error = sub.empty() ? "pic : sous-commande manquante (identify, read, program, verify, "
                               "blank-check ou erase)"
                             : "pic : sous-commande inconnue « " + sub + " »";
        return std::nullopt;
    }
    if (group == "hex") {
        if (sub == "check")
            return Command::HexCheck;
        *error = sub.empty() ? "hex : sous-commande manquante (check)"
                             : "hex : sous-commande inconnue « " + sub + " »";
        return std::nullopt;
    }
    *error = "commande inconnue « " + group + " »";
    return std::nullopt;
}

// Words after the command's own: 0 for status and pic identify, 1 (the
// file) for the others.
std::size_t CommandWords(Command c) { return c == Command::Status ? 1 : 2; }

bool TakesFile(Command c) {
    switch (c) {
    case Command::None:
    case Command::Status:
    case Command::FirmwareLeave:
    case Command::PicIdentify:
    case Command::PicBlankCheck:
    case Command::PicErase:
        return false;
    default:
        return true;
    }
}

std::string HelpFor(const Words& w) {
    if (w.size() == 0)
        return HelpText(Command::None);
    std::string ignored;
    if (auto c = CommandOf(w, &ignored))
        return HelpText(*c);
    if (w[0] == "firmware" || w[0] == "pic" || w[0] == "hex")
        return GroupHelpText(w[0]);
    return HelpText(Command::None);
}

} // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
    Options o;
    Words words;
    bool help = false;
    bool version = false;
    bool pic = false, firmware = false;
    bool simPicGiven = false;
    bool quiet = false, verbose = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            for (++i; i < args.size(); ++i)
                words.push_back(args[i]);
            break;
        }
        if (a.size() < 2 || a[0] != '-') {
            words.push_back(a);
            continue;
        }
        // --name=value or --name value for the options that take a value.
        std::string name = a;
        std::optional<std::string> inlineValue;
        if (a.rfind("--", 0) == 0) {
            const std::size_t eq = a.find('=');
            if (eq != std::string::npos) {
                name = a.substr(0, eq);
                inlineValue = a.substr(eq + 1);
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };

        if (name == "-h" || name == "--help") {
            help = true;
        } else if (name == "--version" && !inlineValue) {
            version = true;
        } else if (name == "--simulate") {
            auto v = value();
            if (!v || v->empty())
                return Fail("--simulate : DOSSIER manquant");
            o.simulateFolder = *v;
        } else if (name == "--sim-pic") {
            auto v = value();
            if (!v || v->empty())
                return Fail("--sim-pic : NOM manquant");
            o.simPic = *v;
            simPicGiven = true;
        } else if (name == "--sim-protected" && !inlineValue) {
            o.simProtected = true;
        } else if (name == "--log") {
            auto v = value();
            if (!v || v->empty())
                return Fail("--log : FICHIER manquant");
            o.logFile = *v;
        } else if (name == "--device") {
            auto v = value();
            if (!v || v->empty())
                return Fail("--device : CHEMIN manquant");
            o.devicePath = *v;
        } else if ((name == "-q" || name == "--quiet") && !inlineValue) {
            quiet = true;
        } else if ((name == "-v" || name == "--verbose") && !inlineValue) {
            verbose = true;
        } else if (name == "--json" && !inlineValue) {
            o.json = true;
        } else if (name == "--no-verify" && !inlineValue) {
            o.noVerify = true;
        } else if (name == "--watch" && !inlineValue) {
            o.watch = true;
        } else if ((name == "--yes" || name == "-y") && !inlineValue) {
            o.assumeYes = true;
        } else if (name == "--force" && !inlineValue) {
            o.force = true;
        } else if (name == "--pic" && !inlineValue) {
            pic = true;
        } else if (name == "--firmware" && !inlineValue) {
            firmware = true;
        } else {
            return Fail("option inconnue « " + a + " »");
        }
    }

    if (!words.empty() && words[0] == "help") {
        words.erase(words.begin());
        help = true;
    }
    if (help || version) {
        ParseResult r;
        r.ok = true;
        r.options.help = true;
        r.options.helpText =
            help ? HelpFor(words) : std::string("talmo-cli ") + kProgramVersion + "\n";
        return r;
    }

    std::string error;
    std::optional<Command> command = CommandOf(words, &error);
    if (!command)
        return Fail(error);
    o.command = *command;

    const std::size_t own = CommandWords(o.command);
    if (TakesFile(o.command)) {
        if (words.size() <= own)
            return Fail(words[0] + " " + words[1] + " : FICHIER manquant");
        o.file = words[own];
        if (o.file.empty())
            return Fail(words[0] + " " + words[1] + " : FICHIER vide");
        if (words.size() > own + 1)
            return Fail("argument en trop « " + words[own + 1] + " »");
    } else if (words.size() > own) {
        return Fail("argument en trop « " + words[own] + " »");
    }

    if (o.watch && o.command != Command::Status)
        return Fail("--watch ne s'emploie qu'avec status");
    const bool programs = o.command == Command::PicProgram || o.command == Command::FirmwareProgram;
    if (o.assumeYes && !programs && o.command != Command::PicErase)
        return Fail("--yes ne s'emploie qu'avec pic program, pic erase et firmware program");
    if (o.force && !programs)
        return Fail("--force ne s'emploie qu'avec pic program et firmware program");
    if (o.noVerify && o.command != Command::FirmwareProgram)
        return Fail("--no-verify ne s'emploie qu'avec firmware program");
    if (o.json && o.command != Command::Status && o.command != Command::PicIdentify)
        return Fail("--json ne s'emploie qu'avec status et pic identify");
    if (o.json && o.watch)
        return Fail("--json et --watch ne s'emploient pas ensemble");
    if (quiet && verbose)
        return Fail("-q et -v ne s'emploient pas ensemble");
    o.verbosity = quiet ? -1 : verbose ? 1 : 0;
    if ((pic || firmware) && o.command != Command::HexCheck)
        return Fail("--pic et --firmware ne s'emploient qu'avec hex check");
    if (o.command == Command::HexCheck) {
        if (pic == firmware)
            return Fail("hex check : choisir --pic ou --firmware");
        o.hexKind = pic ? HexKind::Pic : HexKind::Firmware;
    }
    if ((simPicGiven || o.simProtected) && o.simulateFolder.empty())
        return Fail("--sim-pic et --sim-protected demandent --simulate DOSSIER");

    ParseResult r;
    r.ok = true;
    r.options = std::move(o);
    return r;
}

std::string HelpText(Command command) {
    switch (command) {
    case Command::None:
        return WithCommon(
            "Usage : talmo-cli [OPTIONS] COMMANDE [ARGUMENTS]\n"
            "\n"
            "Les travaux de TALMO_Tools depuis un terminal : état du TALMO, mise à jour\n"
            "de son firmware, lecture et programmation du PIC de la carte VELKOR.\n"
            "\n"
            "Commandes :\n"
            "  status [--watch|--json]        version, table, flash et état du TALMO\n"
            "  firmware save FICHIER          sauvegarder le firmware du TALMO\n"
            "  firmware program FICHIER [--yes] [--force] [--no-verify]\n"
            "                                 programmer un firmware dans le TALMO, puis\n"
            "                                 le relire et le comparer au fichier\n"
            "  firmware verify FICHIER        comparer le firmware du TALMO au fichier\n"
            "  firmware leave                 faire sortir le TALMO de son boot loader\n"
            "  pic identify [--json]          identifier le PIC et la version VELKOR\n"
            "  pic read FICHIER               lire le PIC et l'enregistrer\n"
            "  pic program FICHIER [--yes] [--force]\n"
            "                                 programmer et vérifier le PIC\n"
            "  pic verify FICHIER             comparer le PIC au fichier\n"
            "  pic blank-check                vérifier que le PIC est vierge\n"
            "  pic erase [--yes]              effacer le PIC\n"
            "  hex check FICHIER --pic|--firmware\n"
            "                                 vérifier un fichier HEX\n"
            "\n"
            "« talmo-cli COMMANDE --help » donne l'aide de chaque commande.\n");
    case Command::Status:
        return WithCommon(
            "Usage : talmo-cli status [--watch|--json]\n"
            "\n"
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
            "            keypad} ; une clé sans valeur vaut null\n");
    case Command::FirmwareSave:
        return WithCommon(
            "Usage : talmo-cli firmware save FICHIER\n"
            "\n"
            "Enregistre le firmware du TALMO (zone application et EEPROM) dans le fichier\n"
            "Intel HEX FICHIER. En mode normal, le TALMO est d'abord envoyé dans son boot\n"
            "loader ; à la fin il en sort et la version qui tourne est affichée.\n");
    case Command::FirmwareProgram:
        return WithCommon(
            "Usage : talmo-cli firmware program FICHIER [--yes] [--force] [--no-verify]\n"
            "\n"
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
            "  --no-verify   ne pas relire le firmware écrit\n");
    case Command::FirmwareVerify:
        return WithCommon(
            "Usage : talmo-cli firmware verify FICHIER\n"
            "\n"
            "Relit le firmware du TALMO (zone application et EEPROM) et le compare au\n"
            "fichier Intel HEX FICHIER : la première différence est nommée avec le nombre\n"
            "d'octets différents (code 5). Le TALMO passe en boot loader s'il est en mode\n"
            "normal et revient en mode normal à la fin.\n");
    case Command::FirmwareLeave:
        return WithCommon(
            "Usage : talmo-cli firmware leave\n"
            "\n"
            "Fait sortir le TALMO de son boot loader sans le reprogrammer et affiche la\n"
            "version qui tourne. Un TALMO déjà en mode normal n'est pas touché.\n");
    case Command::PicIdentify:
        return WithCommon(
            "Usage : talmo-cli pic identify [--json]\n"
            "\n"
            "Identifie le PIC de la carte VELKOR (mettre J8 sur PRGM), puis lit son\n"
            "programme pour afficher la version VELKOR. Un PIC protégé n'est pas lu.\n"
            "\n"
            "  --json   un objet JSON sur la sortie standard, clés stables : pic, version,\n"
            "           protected, program_words, eeprom_bytes, config_word ; une clé\n"
            "           sans valeur vaut null\n");
    case Command::PicRead:
        return WithCommon(
            "Usage : talmo-cli pic read FICHIER\n"
            "\n"
            "Identifie et lit le PIC de la carte VELKOR, puis enregistre son programme,\n"
            "son EEPROM, ses mots ID et son mot de configuration dans le fichier Intel\n"
            "HEX FICHIER. Un PIC protégé contre la lecture est refusé : rien n'est écrit.\n");
    case Command::PicProgram:
        return WithCommon(
            "Usage : talmo-cli pic program FICHIER [--yes] [--force]\n"
            "\n"
            "Lit le fichier Intel HEX FICHIER, identifie le PIC de la carte VELKOR, met à 1\n"
            "le bit 7 du mot de configuration, demande confirmation, puis efface, programme\n"
            "et vérifie le PIC.\n"
            "\n"
            "Sont refusés : un fichier sans donnée ou sans enregistrement de fin (coupé),\n"
            "et, sauf avec --force, un fichier dont les données dépassent la mémoire\n"
            "programme ou l'EEPROM du PIC identifié (elles seraient perdues).\n"
            "\n"
            "  -y, --yes   programmer sans demander confirmation\n"
            "  --force     programmer aussi un fichier plus grand que le PIC\n");
    case Command::PicVerify:
        return WithCommon(
            "Usage : talmo-cli pic verify FICHIER\n"
            "\n"
            "Identifie et lit le PIC de la carte VELKOR, puis compare sa mémoire de\n"
            "programme, ses mots ID et son EEPROM au fichier Intel HEX FICHIER : la\n"
            "première différence est nommée avec le nombre de mots différents (code 5).\n"
            "Le mot de configuration n'est pas comparé. Un PIC protégé n'est pas lu.\n");
    case Command::PicBlankCheck:
        return WithCommon(
            "Usage : talmo-cli pic blank-check\n"
            "\n"
            "Identifie et lit le PIC de la carte VELKOR, puis vérifie que sa mémoire de\n"
            "programme et ses mots ID valent 0x3FFF et son EEPROM 0xFF : le premier mot\n"
            "écrit est nommé avec leur nombre (code 5).\n");
    case Command::PicErase:
        return WithCommon(
            "Usage : talmo-cli pic erase [--yes]\n"
            "\n"
            "Identifie le PIC de la carte VELKOR, demande confirmation, puis l'efface\n"
            "comme la programmation le fait d'abord (protection comprise).\n"
            "\n"
            "  -y, --yes   effacer sans demander confirmation\n");
    case Command::HexCheck:
        return WithCommon(
            "Usage : talmo-cli hex check FICHIER --pic|--firmware\n"
            "\n"
            "Lit FICHIER avec le lecteur du programme et affiche son message d'erreur, ou\n"
            "un résumé (mots ou octets utilisés, version trouvée) précédé de « OK » ou\n"
            "des raisons de refuser de le programmer (pas de donnée, pas d'enregistrement\n"
            "de fin ; pour un firmware, pas de version ou des données hors zone). Le\n"
            "code de sortie est 0 seulement si le fichier peut être programmé.\n"
            "\n"
            "  --pic        fichier pour le PIC de la carte VELKOR\n"
            "  --firmware   fichier de firmware du TALMO\n");
    }
    return {};
}

std::string GroupHelpText(const std::string& group) {
    if (group == "firmware")
        return WithCommon("Usage : talmo-cli firmware save|program|verify|leave ...\n"
                          "\n"
                          "  save FICHIER      sauvegarder le firmware du TALMO\n"
                          "  program FICHIER [--yes] [--force] [--no-verify]\n"
                          "                    programmer un firmware dans le TALMO\n"
                          "  verify FICHIER    comparer le firmware au fichier\n"
                          "  leave             sortir du boot loader\n");
    if (group == "pic")
        return WithCommon(
            "Usage : talmo-cli pic identify|read|program|verify|blank-check|erase ...\n"
            "\n"
            "  identify [--json]        identifier le PIC et la version VELKOR\n"
            "  read FICHIER             lire le PIC et l'enregistrer\n"
            "  program FICHIER [--yes] [--force]\n"
            "                           programmer et vérifier le PIC\n"
            "  verify FICHIER           comparer le PIC au fichier\n"
            "  blank-check              vérifier que le PIC est vierge\n"
            "  erase [--yes]            effacer le PIC\n");
    if (group == "hex")
        return WithCommon("Usage : talmo-cli hex check FICHIER --pic|--firmware\n");
    return HelpText(Command::None);
}

} // namespace talmo::cli
