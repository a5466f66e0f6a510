#include "cli/status_view.h"

#include "core/picture_ids.h"

namespace talmo::cli {

namespace {

std::string Trimmed(const std::string& s) {
    std::size_t start = 0;
    while (start < s.size() && s[start] == ' ')
        ++start;
    return s.substr(start);
}

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
    out.push_back(std::string("Entrée PWM: ") +
                  (picture(kCtlInputModePicture) == kPictureSwitchManu ? "MANU" : "AUTO") +
                  ", niveau " + Percent(text(kCtlInputLevelEdit)) + ", entrée " +
                  Percent(text(kCtlInputLevel2Edit)));
    out.push_back("Sortie PWM: " + Percent(text(kCtlOutputLevelEdit)) + ", interrupteur " +
                  (picture(kCtlOutputSwitchPicture) == kPictureSwitchOff ? "OFF" : "ON") +
                  ", protection démarrage " + text(kCtlStartProtectText));
    out.push_back("IO1: " + text(kCtlIo1Text));
    out.push_back(std::string("STOP PROG: ") +
                  (picture(kCtlStopPicture) == kPictureStopLit ? "allumé" : "éteint"));
    out.push_back(std::string("Moteurs: ") +
                  (picture(kCtlMotorButton) == kPictureSwitchOn ? "ON" : "OFF"));
    out.push_back(std::string("FDCs: ") +
                  (picture(kCtlLimitSwitchPicture) == kPictureContactOpen ? "ouverts" : "fermés"));
    out.push_back(std::string("Palpeurs: ") +
                  (picture(kCtlProbePicture) == kPictureContactOpen ? "ouverts" : "fermés"));

    auto v = visible_.find(kCtlKeypadMissingText);
    if (v != visible_.end() && v->second) {
        out.push_back("Clavier: non détecté");
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
        out.push_back("Clavier: " +
                      (pressed.empty() ? std::string("aucune touche") : "touches " + pressed));
    }
    return out;
}

} // namespace talmo::cli
