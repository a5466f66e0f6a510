// The console's display as lines of text: what the start sequence found
// (version, flash, table and axes) and the decoded live status.
#pragma once

#include "console/console_commands.h"
#include "console/console_core.h"

#include <map>
#include <string>
#include <vector>

namespace talmo::cli {

// "Label: value" lines of the start sequence, with the window's labels.
std::vector<std::string> StartLines(const StartResult& start);

// The console's controls as the status poll leaves them: every display item
// applied in order, as the page applies them to its widgets.
class StatusView {
public:
    void apply(const std::vector<DisplayItem>& items);
    // The live status, one "Label: value" line per group of the page.
    std::vector<std::string> lines() const;

private:
    std::string text(int control) const;
    int picture(int control) const;
    std::map<int, std::string> texts_;
    std::map<int, int> pictures_;
    std::map<int, int> visible_;
};

} // namespace talmo::cli
