// The console's display as lines of text: what the start sequence found
// (version, flash, table and axes) and the decoded live status.
#pragma once

#include "console/console_commands.h"
#include "console/console_core.h"

#include <string>
#include <utility>
#include <vector>

namespace talmo::cli {

// "Label: value" lines of the start sequence, with the window's labels.
std::vector<std::string> StartLines(const MachineStatus& start);

// A text without its leading spaces.
std::string Trimmed(const std::string& s);

// JSON for scripts: a string with its escapes, and an object from members
// whose values are JSON already, in the order given.
std::string JsonString(const std::string& text);
std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members);
// The start sequence's flash and table as JSON objects, or null.
std::string FlashJson(const MachineStatus& start);
std::string TableJson(const MachineStatus& start);

// One line of the live status: its JSON key, its label and its value.
struct StatusField {
    std::string key;
    std::string label;
    std::string value;
};

// The machine's live status as the terminal shows it.
class StatusView {
public:
    void apply(const LiveStatus& status) { status_ = status; }
    // The live status, one "Label: value" line per group of the page.
    std::vector<std::string> lines() const;
    std::vector<StatusField> fields() const;

private:
    LiveStatus status_;
};

} // namespace talmo::cli
