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

const char kGeneralHelpStart[] =
    "Usage : talmo-cli [OPTIONS] COMMANDE [ARGUMENTS]\n"
    "\n"
    "Les travaux de TALMO_Tools depuis un terminal : état du TALMO, mise à jour\n"
    "de son firmware, lecture et programmation du PIC de la carte VELKOR.\n"
    "\n";

constexpr int kGeneralColumn = 33; // where the summaries start in the general help

using Words = std::vector<std::string>;

// The options that only some commands take, in the order their misuse is told.
struct OwnOption {
    const char* name;
    const char* shortName; // or null
    unsigned bit;
};
constexpr OwnOption kOwnOptions[] = {
    {"--watch", nullptr, kOptWatch},       {"--yes", "-y", kOptYes},
    {"--force", nullptr, kOptForce},       {"--no-verify", nullptr, kOptNoVerify},
    {"--json", nullptr, kOptJson},         {"--pic", nullptr, kOptPic},
    {"--firmware", nullptr, kOptFirmware},
};
// Of these, a command that takes them needs exactly one.
constexpr unsigned kChoiceOptions = kOptPic | kOptFirmware;

// The options of every command that take a value.
struct ValueOption {
    const char* name;
    const char* value; // what the value is, for the message when it is missing
    std::string Options::*field;
};
const ValueOption kValueOptions[] = {
    {"--simulate", "DOSSIER", &Options::simulateFolder},
    {"--sim-pic", "NOM", &Options::simPic},
    {"--log", "FICHIER", &Options::logFile},
    {"--device", "CHEMIN", &Options::devicePath},
};
// The chips that --sim-pic names, for the completion.
constexpr const char* kSimPicNames =
    "PIC16F873 PIC16F873A PIC16F874 PIC16F874A PIC16F876 PIC16F876A PIC16F877 PIC16F877A";
// Every option of every command, for the completion.
constexpr const char* kCommonOptionNames =
    "--device --log --quiet --verbose --simulate --sim-pic --sim-protected --help --version";

ParseResult Fail(std::string message) {
    ParseResult r;
    r.error = std::move(message);
    return r;
}

std::string CommandWords(const CommandSpec& c) {
    return *c.name ? std::string(c.group) + " " + c.name : std::string(c.group);
}

// "a", "a et b", "a, b et c" (or "ou" for the last).
std::string Listed(const std::vector<std::string>& items, const char* last) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += i + 1 == items.size() ? std::string(" ") + last + " " : ", ";
        text += items[i];
    }
    return text;
}

std::vector<const CommandSpec*> GroupCommands(const std::string& group) {
    std::vector<const CommandSpec*> found;
    for (const CommandSpec& c : Commands())
        if (group == c.group)
            found.push_back(&c);
    return found;
}

const CommandSpec* CommandOf(const Words& w, std::string* error) {
    if (w.empty()) {
        *error = "commande manquante";
        return nullptr;
    }
    const std::vector<const CommandSpec*> group = GroupCommands(w[0]);
    if (group.empty()) {
        *error = "commande inconnue « " + w[0] + " »";
        return nullptr;
    }
    if (!*group.front()->name)
        return group.front();
    const std::string sub = w.size() > 1 ? w[1] : "";
    std::vector<std::string> names;
    for (const CommandSpec* c : group) {
        if (sub == c->name)
            return c;
        names.push_back(c->name);
    }
    *error = sub.empty() ? w[0] + " : sous-commande manquante (" + Listed(names, "ou") + ")"
                         : w[0] + " : sous-commande inconnue « " + sub + " »";
    return nullptr;
}

std::string HelpFor(const Words& w) {
    std::string ignored;
    if (const CommandSpec* c = CommandOf(w, &ignored))
        return HelpText(c);
    return w.empty() ? HelpText(nullptr) : GroupHelpText(w[0]);
}

// What the loop over the arguments found besides the options' values.
struct Scan {
    Options options;
    Words words;
    bool help = false, version = false, quiet = false, verbose = false, simPicGiven = false;
    bool completion = false; // --completion, not in the help: the build asks for it
};

// One option (`a`, at args[i]; a value may take the next argument).
std::optional<std::string> ScanOption(const Words& args, std::size_t& i, Scan& s) {
    const std::string& a = args[i];
    // --name=value or --name value for the options that take a value.
    std::string name = a;
    std::optional<std::string> inlineValue;
    if (const std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
        name = a.substr(0, eq);
        inlineValue = a.substr(eq + 1);
    }
    if (name == "-h" || name == "--help") {
        s.help = true;
        return std::nullopt;
    }
    for (const ValueOption& v : kValueOptions) {
        if (name != v.name)
            continue;
        if (!inlineValue && i + 1 < args.size())
            inlineValue = args[++i];
        if (!inlineValue || inlineValue->empty())
            return std::string(v.name) + " : " + v.value + " manquant";
        s.options.*v.field = *inlineValue;
        s.simPicGiven = s.simPicGiven || name == "--sim-pic";
        return std::nullopt;
    }
    bool* flag = name == "--version"                   ? &s.version
                 : name == "--completion"              ? &s.completion
                 : name == "--sim-protected"           ? &s.options.simProtected
                 : name == "-q" || name == "--quiet"   ? &s.quiet
                 : name == "-v" || name == "--verbose" ? &s.verbose
                                                       : nullptr;
    if (flag && !inlineValue) {
        *flag = true;
        return std::nullopt;
    }
    for (const OwnOption& o : kOwnOptions)
        if (!inlineValue && (name == o.name || (o.shortName && name == o.shortName))) {
            s.options.given |= o.bit;
            return std::nullopt;
        }
    return "option inconnue « " + a + " »";
}

std::optional<std::string> ScanArguments(const Words& args, Scan& s) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            s.words.insert(s.words.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        }
        if (a.size() < 2 || a[0] != '-')
            s.words.push_back(a);
        else if (std::optional<std::string> error = ScanOption(args, i, s))
            return error;
    }
    if (!s.words.empty() && s.words[0] == "help") {
        s.words.erase(s.words.begin());
        s.help = true;
    }
    return std::nullopt;
}

// The words after the command's own: its file, or nothing.
std::optional<std::string> CheckFile(const Words& words, Options& o) {
    const CommandSpec& c = *o.command;
    const std::size_t own = *c.name ? 2 : 1;
    if (c.file == FileArgument::None) {
        if (words.size() > own)
            return "argument en trop « " + words[own] + " »";
        return std::nullopt;
    }
    if (words.size() <= own)
        return CommandWords(c) + " : FICHIER manquant";
    o.file = words[own];
    if (o.file.empty())
        return CommandWords(c) + " : FICHIER vide";
    if (words.size() > own + 1)
        return "argument en trop « " + words[own + 1] + " »";
    return std::nullopt;
}

// "--yes ne s'emploie qu'avec pic program, pic erase et firmware program":
// the commands that take `bits`, named status first, then pic, hex and
// firmware's, as these messages have always named them.
std::string OnlyWith(const std::string& names, bool plural, unsigned bits) {
    std::vector<std::string> users;
    for (const char* group : {"status", "pic", "hex", "firmware"})
        for (const CommandSpec* c : GroupCommands(group))
            if (c->options & bits)
                users.push_back(CommandWords(*c));
    return names + (plural ? " ne s'emploient qu'avec " : " ne s'emploie qu'avec ") +
           Listed(users, "et");
}

std::optional<std::string> CheckOptions(const Scan& s) {
    const Options& o = s.options;
    const unsigned misused = o.given & ~o.command->options;
    for (const OwnOption& own : kOwnOptions)
        if ((misused & own.bit) && !(own.bit & kChoiceOptions))
            return OnlyWith(own.name, false, own.bit);
    if (o.has(kOptJson) && o.has(kOptWatch))
        return "--json et --watch ne s'emploient pas ensemble";
    if (s.quiet && s.verbose)
        return "-q et -v ne s'emploient pas ensemble";
    std::vector<std::string> choices;
    for (const OwnOption& own : kOwnOptions)
        if (own.bit & kChoiceOptions)
            choices.push_back(own.name);
    if (misused & kChoiceOptions)
        return OnlyWith(Listed(choices, "et"), true, kChoiceOptions);
    const unsigned chosen = o.given & kChoiceOptions;
    if ((o.command->options & kChoiceOptions) && (chosen == 0 || (chosen & (chosen - 1))))
        return CommandWords(*o.command) + " : choisir " + Listed(choices, "ou");
    if ((s.simPicGiven || o.simProtected) && o.simulateFolder.empty())
        return "--sim-pic et --sim-protected demandent --simulate DOSSIER";
    return std::nullopt;
}

// One line (or more) of a help's list of commands.
std::string SummaryLine(const std::string& synopsis, const std::string& summary, int column) {
    const std::size_t at = static_cast<std::size_t>(column);
    std::string line = "  " + synopsis;
    if (line.size() + 1 > at)
        line.append("\n").append(at, ' ');
    else
        line.append(at - line.size(), ' ');
    for (char c : summary) {
        line += c;
        if (c == '\n')
            line += std::string(at, ' ');
    }
    return line + "\n";
}

// The parts of the completion script that come from the table.
struct CompletionParts {
    std::string groups;             // first words
    std::string subcommands;        // "        firmware) COMPREPLY=(...) ;;" lines
    std::string helpWords;          // the same after "help GROUP"
    std::string options;            // "            'pic program') options+=' --yes' ;;" lines
    std::string hexFiles, anyFiles; // commands whose FICHIER is a HEX file, any file
};

std::string OwnOptionNames(unsigned bits) {
    std::string names;
    for (const OwnOption& o : kOwnOptions)
        if (bits & o.bit)
            names += std::string(" ") + o.name;
    return names;
}

CompletionParts CompletionPartsOf() {
    CompletionParts p;
    std::string previous;
    for (const CommandSpec& c : Commands()) {
        const std::string words = CommandWords(c);
        if (previous != c.group) {
            previous = c.group;
            p.groups += std::string(p.groups.empty() ? "" : " ") + c.group;
            std::string names;
            for (const CommandSpec* in : GroupCommands(c.group))
                names += std::string(names.empty() ? "" : " ") + in->name;
            if (!names.empty()) {
                p.subcommands += std::string("                ") + c.group +
                                 ") COMPREPLY=($(compgen -W '" + names + "' -- \"$cur\")) ;;\n";
                p.helpWords += std::string("                'help ") + c.group +
                               "') COMPREPLY=($(compgen -W '" + names + "' -- \"$cur\")) ;;\n";
            }
        }
        if (c.options)
            p.options +=
                "            '" + words + "') options+='" + OwnOptionNames(c.options) + "' ;;\n";
        std::string& files = c.file == FileArgument::HexIn ? p.hexFiles : p.anyFiles;
        if (c.file != FileArgument::None)
            files += std::string(files.empty() ? "'" : " | '") + words + "'";
    }
    return p;
}

// clang-format off
const char kCompletionTemplate[] = R"sh(# bash completion for talmo-cli: commands, their words, options and files.
# Made by `talmo-cli --completion`; installed as
# share/bash-completion/completions/talmo-cli.

_talmo_cli() {
    local cur prev words cword
    _init_completion || return

    case $prev in
        --simulate)
            _filedir -d
            return
            ;;
        --log)
            _filedir
            return
            ;;
        --device)
            COMPREPLY=($(compgen -W "$(compgen -G '/dev/hidraw*')" -- "$cur"))
            return
            ;;
        --sim-pic)
            COMPREPLY=($(compgen -W '@PICS@' -- "$cur"))
            return
            ;;
    esac

    # The command words typed so far, options and their values left out.
    local i command=()
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            @VALUE_OPTIONS@) ((i++)) ;;
            -*) ;;
            *) command+=("${words[i]}") ;;
        esac
    done

    if [[ $cur == -* ]]; then
        local options='@COMMON@'
        case "${command[*]:0:2}" in
@OPTIONS@        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case ${#command[@]} in
        0)
            COMPREPLY=($(compgen -W '@GROUPS@ help' -- "$cur"))
            ;;
        1)
            case ${command[0]} in
@SUBCOMMANDS@                help) COMPREPLY=($(compgen -W '@GROUPS@' -- "$cur")) ;;
            esac
            ;;
        2)
            case "${command[*]}" in
                @ANY_FILES@) _filedir ;;
                @HEX_FILES@) _filedir '@(hex|HEX)' ;;
@HELP_WORDS@            esac
            ;;
    esac
} &&
    complete -F _talmo_cli talmo-cli
)sh";
// clang-format on

void Fill(std::string& text, const std::string& mark, const std::string& value) {
    for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
        text.replace(at, mark.size(), value);
}

} // namespace

ExitStatus ExitStatusOf(const JobOutcome& outcome) {
    switch (outcome.end) {
    case JobEnd::Done:
        return kExitOk;
    case JobEnd::Cancelled:
        return kExitCancelled;
    case JobEnd::FileRefused:
    case JobEnd::FileNotWritten:
        return kExitFile;
    case JobEnd::NoAnswer:
    case JobEnd::WrongMode:
    case JobEnd::TooOld:
    case JobEnd::Protected:
        return kExitDevice;
    case JobEnd::Difference:
        return kExitDifference;
    case JobEnd::NoDevice:
        return kExitNoDevice;
    case JobEnd::AccessDenied:
        return kExitAccessDenied;
    case JobEnd::Busy:
        return kExitBusy;
    }
    return kExitDevice;
}

ParseResult ParseArguments(const std::vector<std::string>& args) {
    Scan s;
    if (std::optional<std::string> error = ScanArguments(args, s))
        return Fail(*error);
    if (s.help || s.version || s.completion) {
        ParseResult r;
        r.ok = true;
        r.options.help = true;
        r.options.helpText = s.help      ? HelpFor(s.words)
                             : s.version ? std::string("talmo-cli ") + kProgramVersion + "\n"
                                         : CompletionScript();
        return r;
    }
    std::string error;
    s.options.command = CommandOf(s.words, &error);
    if (!s.options.command)
        return Fail(error);
    if (std::optional<std::string> bad = CheckFile(s.words, s.options))
        return Fail(*bad);
    if (std::optional<std::string> bad = CheckOptions(s))
        return Fail(*bad);
    s.options.verbosity = s.quiet ? -1 : s.verbose ? 1 : 0;
    ParseResult r;
    r.ok = true;
    r.options = std::move(s.options);
    return r;
}

std::string HelpText(const CommandSpec* command) {
    if (command)
        return WithCommon(std::string("Usage : talmo-cli ") + command->usage + "\n\n" +
                          command->help);
    std::string text = kGeneralHelpStart;
    text += "Commandes :\n";
    for (const CommandSpec& c : Commands())
        text += SummaryLine(c.usage, c.summary, kGeneralColumn);
    return WithCommon(text + "\n« talmo-cli COMMANDE --help » donne l'aide de chaque commande.\n");
}

std::string GroupHelpText(const std::string& group) {
    const std::vector<const CommandSpec*> commands = GroupCommands(group);
    if (commands.empty() || !*commands.front()->name)
        return HelpText(nullptr);
    if (commands.size() == 1)
        return WithCommon(std::string("Usage : talmo-cli ") + commands.front()->usage + "\n");
    int column = kGeneralColumn;
    for (const CommandGroup& g : CommandGroups())
        if (group == g.name)
            column = g.column;
    std::string names, lines;
    for (const CommandSpec* c : commands) {
        if (!names.empty())
            names += '|';
        names += c->name;
        lines +=
            SummaryLine(std::string(c->usage).substr(group.size() + 1), c->groupSummary, column);
    }
    return WithCommon("Usage : talmo-cli " + group + " " + names + " ...\n\n" + lines);
}

std::string CompletionScript() {
    const CompletionParts p = CompletionPartsOf();
    std::string valueOptions;
    for (const ValueOption& v : kValueOptions)
        valueOptions += std::string(valueOptions.empty() ? "" : " | ") + v.name;
    std::string text = kCompletionTemplate;
    Fill(text, "@PICS@", kSimPicNames);
    Fill(text, "@VALUE_OPTIONS@", valueOptions);
    Fill(text, "@COMMON@", kCommonOptionNames);
    Fill(text, "@OPTIONS@", p.options);
    Fill(text, "@GROUPS@", p.groups);
    Fill(text, "@SUBCOMMANDS@", p.subcommands);
    Fill(text, "@ANY_FILES@", p.anyFiles);
    Fill(text, "@HEX_FILES@", p.hexFiles);
    Fill(text, "@HELP_WORDS@", p.helpWords);
    return text;
}

} // namespace talmo::cli
