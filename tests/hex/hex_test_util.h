// Helpers shared by the HEX tests: a temporary folder, whole-file I/O, an
// independent record builder (test inputs never come from the writers under
// test) and the reader case table.
#pragma once

#include "tests/common/files.h"
#include "tests/common/hex_files.h"
#include "tests/common/scripted_ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hextest {

using namespace talmo::test;

// Lines of a written file without their CR LF; a last line that lacks it is
// marked, so comparisons catch it.
inline std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    for (std::size_t end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(text.substr(pos, end - pos));
    if (pos < text.size())
        lines.push_back(text.substr(pos) + "<no CR LF>");
    return lines;
}

// One text given to a reader, and what must come of it.
using Values = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
struct ReadCase {
    const char* name;
    std::string text;
    int result;
    std::string message; // empty: no box
    Values values;       // image values checked after
    long changed;        // values that differ from blank
};

// A text the reader takes, and one it refuses with `message`.
inline ReadCase Ok(const char* name, std::string text, Values values = {}, long changed = 0) {
    return {name, std::move(text), 1, "", std::move(values), changed};
}
inline ReadCase Bad(const char* name, std::string text, std::string message, Values values = {},
                    long changed = 0) {
    return {name, std::move(text), 0, std::move(message), std::move(values), changed};
}

// Runs every case through `load` on an image that `soil` filled with junk
// first (the reader must reset it); `cells(image)` is the image's array.
template <class Image, class Load, class Soil, class Cells>
void CheckReadCases(const std::vector<ReadCase>& cases, Load load, Soil soil, Cells cells,
                    std::uint32_t blank) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        talmo::ScriptedUi ui;
        auto image = std::make_unique<Image>();
        soil(*image);
        EXPECT_EQ(load(ui, *image, c.text, nullptr), c.result);
        EXPECT_EQ(ui.boxTexts(), c.message.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{c.message});
        for (const auto& box : ui.boxes())
            EXPECT_TRUE(box.caption == "Erreur fichier" && box.icon == talmo::Icon::Error);
        const auto& array = cells(*image);
        for (const auto& [index, value] : c.values)
            EXPECT_EQ(array[index], value) << std::hex << "at 0x" << index;
        EXPECT_EQ(std::count_if(array.begin(), array.end(), [&](auto v) { return v != blank; }),
                  c.changed);
    }
}

} // namespace hextest
