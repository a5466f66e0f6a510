#include "cli/status_view.h"

#include <cstdio>

namespace talmo::cli {

std::string Trimmed(const std::string& s) {
    std::size_t start = 0;
    while (start < s.size() && s[start] == ' ')
        ++start;
    return s.substr(start);
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += ch; // UTF-8 passes as it is
        }
    }
    return out + "\"";
}

std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string out = "{";
    for (const auto& [key, value] : members) {
        if (out.size() > 1)
            out += ", ";
        out += JsonString(key) + ": " + value;
    }
    return out + "}";
}

std::string FlashJson(const MachineStatus& start) {
    if (!start.flash)
        return "null";
    const FlashTexts& f = *start.flash;
    return JsonObject({{"manufacturer", JsonString(f.manufacturer)},
                       {"type", JsonString(f.type)},
                       {"size", JsonString(f.size)},
                       {"protection", JsonString(f.protection)}});
}

std::string TableJson(const MachineStatus& start) {
    if (!start.table)
        return "null";
    const TableTexts& t = *start.table;
    return JsonObject({{"name", JsonString(t.name)},
                       {"frequency", JsonString(t.frequency)},
                       {"axes", JsonString(t.axes)},
                       {"accel", JsonString(t.accel)},
                       {"pwm_max", JsonString(Trimmed(t.pwmMax))},
                       {"auto_on_off", JsonString(t.autoOnOff)},
                       {"contacts", JsonString(t.contacts)},
                       {"signal_inverted", t.signalInverted ? "true" : "false"}});
}

std::vector<std::string> StartLines(const MachineStatus& start) {
    std::vector<std::string> lines;
    lines.push_back("Version: " + (start.version ? *start.version : std::string("-")));
    if (start.flash) {
        lines.push_back("Flash fabricant: " + start.flash->manufacturer);
        lines.push_back("Flash type: " + start.flash->type);
        lines.push_back("Flash taille: " + start.flash->size);
        lines.push_back("Flash protection: " + start.flash->protection);
    } else {
        lines.push_back("Flash: " + std::string(kNotDetected));
    }
    if (start.table) {
        const TableTexts& t = *start.table;
        lines.push_back("Table: " + t.name);
        lines.push_back("Fréq: " + t.frequency);
        lines.push_back("Axes: " + t.axes);
        lines.push_back("Accèl: " + t.accel);
        lines.push_back("PWM Max: " + Trimmed(t.pwmMax));
        lines.push_back("Auto on/off: " + t.autoOnOff);
        lines.push_back("Contacts: " + t.contacts);
        lines.push_back(std::string("Signal on/off inversé: ") +
                        (t.signalInverted ? "Oui" : "Non"));
    }
    return lines;
}

std::vector<std::string> StatusView::lines() const {
    std::vector<std::string> out;
    for (const StatusField& f : fields())
        out.push_back(f.label + ": " + f.value);
    return out;
}

namespace {

std::string Level(std::uint8_t v) { return Trimmed(PercentText(v)) + " %"; }
const char* Open(bool open) { return open ? "ouverts" : "fermés"; }

std::string Keys(const LiveStatus& s) {
    if (s.keypadMissing)
        return "non détecté";
    const std::pair<bool, const char*> keys[] = {
        {s.keys.up, "haut"},      {s.keys.down, "bas"}, {s.keys.left, "gauche"},
        {s.keys.right, "droite"}, {s.keys.esc, "ESC"},  {s.keys.ok, "OK"},
    };
    std::string pressed;
    for (const auto& [down, name] : keys)
        if (down)
            pressed += (pressed.empty() ? "" : ", ") + std::string(name);
    return pressed.empty() ? std::string("aucune touche") : "touches " + pressed;
}

} // namespace

std::vector<StatusField> StatusView::fields() const {
    const LiveStatus& s = status_;
    return {
        {"pwm_input", "Entrée PWM",
         std::string(s.manualInput ? "MANU" : "AUTO") + ", niveau " + Level(s.inputLevel) +
             ", entrée " + Level(s.inputLevel2)},
        {"pwm_output", "Sortie PWM",
         Level(OutputLevel(s)) + ", interrupteur " + (s.outputSwitchOff ? "OFF" : "ON") +
             ", protection démarrage " + (StartProtection(s) ? "ON" : "OFF")},
        {"io1", "IO1", s.io1 ? "1" : "0"},
        {"stop_prog", "STOP PROG", s.stopLit ? "allumé" : "éteint"},
        {"motors", "Moteurs", s.motorsOn ? "ON" : "OFF"},
        {"limit_switches", "FDCs", Open(s.limitSwitchOpen)},
        {"probes", "Palpeurs", Open(s.probeOpen)},
        {"keypad", "Clavier", Keys(s)},
    };
}

} // namespace talmo::cli
