#include "cli/status_view.h"

#include "core/picture_ids.h"

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

std::string FlashJson(const StartResult& start) {
    if (!start.flash)
        return "null";
    const FlashTexts& f = *start.flash;
    return JsonObject({{"manufacturer", JsonString(f.manufacturer)},
                       {"type", JsonString(f.type)},
                       {"size", JsonString(f.size)},
                       {"protection", JsonString(f.protection)}});
}

std::string TableJson(const StartResult& start) {
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

namespace {

std::string Percent(const std::string& edit) {
    const std::string t = Trimmed(edit);
    return t.empty() ? "-" : t + " %";
}

} // namespace

std::vector<std::string> StartLines(const StartResult& start) {
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

void StatusView::apply(const std::vector<DisplayItem>& items) {
    for (const DisplayItem& item : items) {
        switch (item.kind) {
        case DisplayItem::Text:
            texts_[item.control] = item.text;
            break;
        case DisplayItem::Picture:
            pictures_[item.control] = item.value;
            break;
        case DisplayItem::Visible:
            visible_[item.control] = item.value;
            break;
        case DisplayItem::Position:
            break; // the trackbars repeat what the edits show
        }
    }
}

std::string StatusView::text(int control) const {
    auto it = texts_.find(control);
    return it == texts_.end() ? std::string("-") : it->second;
}

int StatusView::picture(int control) const {
    auto it = pictures_.find(control);
    return it == pictures_.end() ? 0 : it->second;
}

std::vector<std::string> StatusView::lines() const {
    std::vector<std::string> out;
    for (const StatusField& f : fields())
        out.push_back(f.label + ": " + f.value);
    return out;
}

std::vector<StatusField> StatusView::fields() const {
    std::vector<StatusField> out;
    out.push_back(
        {"pwm_input", "Entrée PWM",
         std::string(picture(kCtlInputModePicture) == kPictureSwitchManu ? "MANU" : "AUTO") +
             ", niveau " + Percent(text(kCtlInputLevelEdit)) + ", entrée " +
             Percent(text(kCtlInputLevel2Edit))});
    out.push_back({"pwm_output", "Sortie PWM",
                   Percent(text(kCtlOutputLevelEdit)) + ", interrupteur " +
                       (picture(kCtlOutputSwitchPicture) == kPictureSwitchOff ? "OFF" : "ON") +
                       ", protection démarrage " + text(kCtlStartProtectText)});
    out.push_back({"io1", "IO1", text(kCtlIo1Text)});
    out.push_back({"stop_prog", "STOP PROG",
                   picture(kCtlStopPicture) == kPictureStopLit ? "allumé" : "éteint"});
    out.push_back(
        {"motors", "Moteurs", picture(kCtlMotorButton) == kPictureSwitchOn ? "ON" : "OFF"});
    out.push_back({"limit_switches", "FDCs",
                   picture(kCtlLimitSwitchPicture) == kPictureContactOpen ? "ouverts" : "fermés"});
    out.push_back({"probes", "Palpeurs",
                   picture(kCtlProbePicture) == kPictureContactOpen ? "ouverts" : "fermés"});

    auto v = visible_.find(kCtlKeypadMissingText);
    if (v != visible_.end() && v->second) {
        out.push_back({"keypad", "Clavier", "non détecté"});
    } else {
        struct Key {
            int control;
            int pressed;
            const char* name;
        };
        static const Key keys[] = {
            {kCtlKeyUp, kPictureDiamondDown, "haut"},
            {kCtlKeyDown, kPictureDiamondDown, "bas"},
            {kCtlKeyLeft, kPictureDiamondDown, "gauche"},
            {kCtlKeyRight, kPictureDiamondDown, "droite"},
            {kCtlKeyEsc, kPictureSquareDown, "ESC"},
            {kCtlKeyOk, kPictureSquareDown, "OK"},
        };
        std::string pressed;
        for (const Key& k : keys) {
            if (picture(k.control) == k.pressed)
                pressed += (pressed.empty() ? "" : ", ") + std::string(k.name);
        }
        out.push_back({"keypad", "Clavier",
                       pressed.empty() ? std::string("aucune touche") : "touches " + pressed});
    }
    return out;
}

} // namespace talmo::cli
