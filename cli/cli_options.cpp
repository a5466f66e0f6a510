#include "cli/cli_options.h"

#include "core/version.h"

#include <optional>

namespace talmo::cli {

namespace {

const char kCommonOptions[] =
    "Options communes à toutes les commandes :\n"
    "  --simulate DOSSIER  travailler sur le TALMO virtuel de l'émulateur ; l'état\n"
    "                      de la carte virtuelle (mémoire du TALMO, PIC et ses\n"
    "                      mémoires) est gardé dans DOSSIER d'une commande à\n"
    "                      l'autre, et chaque échange est ajouté à\n"
    "                      DOSSIER/exchanges.log\n"
    "  --sim-pic NOM       pour un nouveau DOSSIER : le PIC de la carte virtuelle,\n"
    "                      de PIC16F873 à PIC16F877A (défaut : PIC16F877A)\n"
    "  --sim-protected     pour un nouveau DOSSIER : PIC protégé contre la lecture\n"
    "  -h, --help          afficher l'aide de la commande\n"
    "  --version           afficher la version de talmo-cli\n";

const char kExitStatuses[] =
    "Codes de sortie :\n"
    "  0  succès\n"
    "  1  erreur du TALMO, de la carte ou de la vérification (ou opération annulée)\n"
    "  2  erreur de fichier (lecture, écriture, contenu refusé)\n"
    "  3  ligne de commande incorrecte\n"
    "  4  aucun TALMO connecté\n"
    "  5  TALMO présent mais accès refusé (règle udev, groupe plugdev)\n";

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
        *error = sub.empty() ? "firmware : sous-commande manquante (save ou program)"
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
        *error = sub.empty() ? "pic : sous-commande manquante (identify, read ou program)"
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
    return c != Command::Status && c != Command::PicIdentify && c != Command::None;
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
        } else if (name == "--watch" && !inlineValue) {
            o.watch = true;
        } else if ((name == "--yes" || name == "-y") && !inlineValue) {
            o.assumeYes = true;
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
    if (o.assumeYes && o.command != Command::PicProgram)
        return Fail("--yes ne s'emploie qu'avec pic program");
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
            "  status [--watch]               version, table, flash et état du TALMO\n"
            "  firmware save FICHIER          sauvegarder le firmware du TALMO\n"
            "  firmware program FICHIER       programmer un firmware dans le TALMO\n"
            "  pic identify                   identifier le PIC et la version VELKOR\n"
            "  pic read FICHIER               lire le PIC et l'enregistrer\n"
            "  pic program FICHIER [--yes]    programmer et vérifier le PIC\n"
            "  hex check FICHIER --pic|--firmware\n"
            "                                 vérifier un fichier HEX\n"
            "\n"
            "« talmo-cli COMMANDE --help » donne l'aide de chaque commande.\n");
    case Command::Status:
        return WithCommon(
            "Usage : talmo-cli status [--watch]\n"
            "\n"
            "Affiche la version du firmware, la mémoire flash, la table de configuration\n"
            "et les axes, puis l'état du TALMO : entrée et sortie PWM, clavier, moteurs,\n"
            "fins de course et palpeurs. Le TALMO doit être en mode normal.\n"
            "\n"
            "  --watch   rafraîchir l'état à chaque changement, jusqu'à Ctrl+C\n");
    case Command::FirmwareSave:
        return WithCommon(
            "Usage : talmo-cli firmware save FICHIER\n"
            "\n"
            "Enregistre le firmware du TALMO (zone application et EEPROM) dans le fichier\n"
            "Intel HEX FICHIER. En mode normal, le TALMO est d'abord envoyé dans son boot\n"
            "loader ; à la fin il en sort et la version qui tourne est affichée.\n");
    case Command::FirmwareProgram:
        return WithCommon(
            "Usage : talmo-cli firmware program FICHIER\n"
            "\n"
            "Programme le firmware du fichier Intel HEX FICHIER dans le TALMO, comme la\n"
            "mise à jour automatique de la fenêtre : le fichier est lu d'abord (un fichier\n"
            "refusé ne touche pas au TALMO), puis le TALMO passe en boot loader s'il est\n"
            "en mode normal, le firmware est écrit, le TALMO sort du boot loader et la\n"
            "version qui tourne est affichée. En cas d'erreur de programmation, le TALMO\n"
            "reste dans son boot loader, où la commande peut être relancée.\n");
    case Command::PicIdentify:
        return WithCommon(
            "Usage : talmo-cli pic identify\n"
            "\n"
            "Identifie le PIC de la carte VELKOR (mettre J8 sur PRGM), puis lit son\n"
            "programme pour afficher la version VELKOR. Un PIC protégé n'est pas lu.\n");
    case Command::PicRead:
        return WithCommon(
            "Usage : talmo-cli pic read FICHIER\n"
            "\n"
            "Identifie et lit le PIC de la carte VELKOR, puis enregistre son programme,\n"
            "son EEPROM, ses mots ID et son mot de configuration dans le fichier Intel\n"
            "HEX FICHIER. Un PIC protégé contre la lecture est refusé : rien n'est écrit.\n");
    case Command::PicProgram:
        return WithCommon(
            "Usage : talmo-cli pic program FICHIER [--yes]\n"
            "\n"
            "Lit le fichier Intel HEX FICHIER, identifie le PIC de la carte VELKOR, met à 1\n"
            "le bit 7 du mot de configuration, demande confirmation, puis efface, programme\n"
            "et vérifie le PIC.\n"
            "\n"
            "  -y, --yes   programmer sans demander confirmation\n");
    case Command::HexCheck:
        return WithCommon(
            "Usage : talmo-cli hex check FICHIER --pic|--firmware\n"
            "\n"
            "Lit FICHIER avec le lecteur du programme et affiche son message d'erreur, ou\n"
            "« OK » et un résumé (mots ou octets utilisés, version trouvée). Le code de\n"
            "sortie est 0 seulement si la fenêtre accepterait le fichier.\n"
            "\n"
            "  --pic        fichier pour le PIC de la carte VELKOR\n"
            "  --firmware   fichier de firmware du TALMO\n");
    }
    return {};
}

std::string GroupHelpText(const std::string& group) {
    if (group == "firmware")
        return WithCommon("Usage : talmo-cli firmware save|program FICHIER\n"
                          "\n"
                          "  save FICHIER      sauvegarder le firmware du TALMO\n"
                          "  program FICHIER   programmer un firmware dans le TALMO\n");
    if (group == "pic")
        return WithCommon("Usage : talmo-cli pic identify|read|program ...\n"
                          "\n"
                          "  identify                 identifier le PIC et la version VELKOR\n"
                          "  read FICHIER             lire le PIC et l'enregistrer\n"
                          "  program FICHIER [--yes]  programmer et vérifier le PIC\n");
    if (group == "hex")
        return WithCommon("Usage : talmo-cli hex check FICHIER --pic|--firmware\n");
    return HelpText(Command::None);
}

} // namespace talmo::cli
