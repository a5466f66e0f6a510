#include "web/web_app.h"

#include "web/page_numbers.h"

#include "core/picture_ids.h"
#include "tests/common/files.h"
#include "tests/common/hex_files.h"
#include "tests/common/rig.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

namespace talmo::test {
namespace {

// The page as a record: the page shown, each control's last text and
// picture, the user's ticks and focus.
struct RecordingView : WebView {
    PageKind page = PageKind::Waiting;
    int pageChanges = 0;
    std::map<std::pair<PageKind, int>, std::string> texts;
    std::map<std::pair<PageKind, int>, int> pictures;
    std::set<std::pair<PageKind, int>> ticked, focused;
    std::vector<std::string> addresses;

    void showPage(PageKind p) override {
        page = p;
        ++pageChanges;
    }
    void setText(PageKind p, int control, const std::string& text) override {
        texts[{p, control}] = text;
    }
    void setPicture(PageKind p, int control, int picture) override {
        pictures[{p, control}] = picture;
    }
    void setPosition(PageKind, int, int) override {}
    void setVisible(PageKind, int, bool) override {}
    void setChecked(PageKind p, int control, bool on) override {
        on ? (void)ticked.insert({p, control}) : (void)ticked.erase({p, control});
    }
    bool checked(PageKind p, int control) override { return ticked.count({p, control}) != 0; }
    bool hasFocus(PageKind p, int control) override { return focused.count({p, control}) != 0; }
    void openAddress(const std::string& address) override { addresses.push_back(address); }
};

struct WebRig : Rig {
    RecordingView view;
    WebApp app{backend, ui, view};
    WebRig() : Rig(sim::MakeTalmo(sim::Talmo::Mode::Normal, sim::PicChip::F877A), false) {}
    void click(PageKind p, int control) { app.command(p, control, ControlEvent::Click, ""); }
    void tick() { // one poll period on, then the page's timer
        clock.sleepMs(kConsolePollPeriodMs);
        app.tick();
    }
    std::string text(PageKind p, int control) { return view.texts[{p, control}]; }
};

TEST(WebApp, ConsoleProgrammerAndBackOverOneLink) {
    WebRig r;
    r.app.start();
    EXPECT_EQ(r.view.page, PageKind::Console);
    EXPECT_EQ(r.text(PageKind::Waiting, 1050), r.text(PageKind::Console, 1050));
    EXPECT_EQ(r.text(PageKind::Console, kCtlVersionText), "TALMO V0.23");

    // The console's poll draws on the console, leaving the focused edit alone.
    r.view.focused.insert({PageKind::Console, kCtlInputLevelEdit});
    r.tick();
    EXPECT_EQ(r.view.pictures.count({PageKind::Console, kCtlStopPicture}), 1u);
    EXPECT_EQ(r.view.texts.count({PageKind::Console, kCtlInputLevelEdit}), 0u);

    // A button of a page not shown does nothing; the console opens the programmer.
    const std::size_t before = r.mark();
    r.click(PageKind::Programmer, kProgrammerIdentifyButton);
    EXPECT_EQ(r.mark(), before);
    r.click(PageKind::Console, kCtlProgrammerButton);
    EXPECT_EQ(r.view.page, PageKind::Programmer);
    EXPECT_EQ((r.view.pictures[{PageKind::Programmer, kProgrammerBackButton}]), kPictureBack);
    r.tick();
    EXPECT_EQ(r.dev->log().count('I', before), 0u); // no poll behind the programmer page
    r.click(PageKind::Programmer, kProgrammerIdentifyButton);
    EXPECT_EQ(r.text(PageKind::Programmer, kProgrammerPicName), "PIC16F877A Rev03");

    const std::size_t back = r.mark();
    r.click(PageKind::Programmer, kProgrammerBackButton);
    EXPECT_EQ(r.view.page, PageKind::Console);
    EXPECT_EQ(r.dev->log().count('V', back), 1u); // the console's start sequence again
    r.click(PageKind::Console, 106);
    EXPECT_EQ(r.view.addresses.size(), 1u);
}

TEST(WebApp, UpdateWithAutoGoesThroughTheBootLoaderAndBack) {
    TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    const Firmware file(5, "TALMO V0.31");
    WriteFile(dir.file("talmo.hex"), file.hexText());

    WebRig r;
    r.app.start();
    r.view.ticked.insert({PageKind::Console, kCtlAutoBox});
    r.click(PageKind::Console, kCtlUpdateButton);
    r.app.devicesChanged(); // removal and arrival in the boot loader
    // The automatic update wrote the file and sent the device back.
    EXPECT_EQ(r.text(PageKind::BootLoader, kBootLoaderFileVersion), "TALMO V0.31");
    EXPECT_EQ(r.dev->firmwareVersion(), "TALMO V0.31");
    EXPECT_EQ(r.dev->mode(), sim::Talmo::Mode::Normal);
    r.app.devicesChanged();
    EXPECT_EQ(r.view.page, PageKind::Console);
    EXPECT_EQ(r.text(PageKind::Console, kCtlVersionText), "TALMO V0.31");
    EXPECT_EQ(r.view.pageChanges, 5); // console, waiting, boot loader, waiting, console
    std::filesystem::current_path(previous);
}

// The numbers handed to the page's script: each page's controls and its
// footer's are told apart by their numbers and their names, and every
// picture has its file among the program's pictures.
TEST(WebApp, PageNumbers) {
    for (const PageKind page :
         {PageKind::BootLoader, PageKind::Console, PageKind::Waiting, PageKind::Programmer}) {
        std::set<int> ids;
        std::set<std::string> names;
        for (const std::span<const NamedControl> table : {PageControls(page), FooterControls()})
            for (const NamedControl& c : table)
                EXPECT_TRUE(ids.insert(c.id).second && names.insert(c.name).second)
                    << PageName(page) << " " << c.name << " " << c.id;
        EXPECT_GT(ids.size(), 3u) << PageName(page);
    }
    for (const PictureFile& f : kPictureFiles)
        EXPECT_TRUE(std::filesystem::is_regular_file(std::string(TALMO_PICTURES) + "/" + f.name))
            << f.name;
    const std::string json = PageNumbersJson();
    for (const char* part : {R"({"pages":{"bootloader":0,"console":1,"waiting":2,"programmer":3},)",
                             R"("footer":{"icon":107,"webSiteButton":106,"version":1050},)",
                             R"("waiting":{"progressBar":1003})", R"("autoBox":1051,)",
                             R"("deviceVersion":1051,)", R"("148":"stop_lit.svg",)"})
        EXPECT_NE(json.find(part), std::string::npos) << part;
}

} // namespace
} // namespace talmo::test
