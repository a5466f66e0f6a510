// The WebAssembly program behind the web page: the shell over the browser's
// HID services, the facade and the view drawn by the page's script
// (Module.talmoView, from view.js), and the entry points that the page's job
// queue calls one at a time (with ccall's async option: a call may wait on
// the browser, for a report, a wait or a dialog, and returns a promise).
#include "core/clock.h"
#include "core/ui.h"
#include "link/webhid_backend.h"
#include "web/page_numbers.h"
#include "web/web_app.h"
#ifdef TALMO_WEB_DEMO
#include "web/web_demo.h"
#endif

#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

// ------------------------------------------------------------------ page calls

// The JavaScript below is not C++: clang-format keeps off it.
// clang-format off
EM_JS(void, talmo_view_status, (int field, const char* text),
      { Module.talmoView.setStatus(field, UTF8ToString(text)); });
EM_JS(void, talmo_view_progress, (const char* phase, double done, double total),
      { Module.talmoView.progress(UTF8ToString(phase), done, total); });
EM_ASYNC_JS(int, talmo_view_box, (const char* text, const char* caption, int icon, int buttons), {
    const icons = [ "none", "error", "warning", "information", "question" ];
    const sets = [ "ok", "okcancel", "yesno", "yesnocancel" ];
    const answer = await Module.talmoView.box(UTF8ToString(text), UTF8ToString(caption),
                                              icons[icon], sets[buttons]);
    return Math.max(0, [ "ok", "cancel", "yes", "no" ].indexOf(answer));
});
// The chosen file is copied into the program's memory file system, under
// /fichiers, and its path there returned; 0 when the user cancelled.
EM_ASYNC_JS(char*, talmo_view_open_file, (const char* request), {
    const file = await Module.talmoView.openFile(JSON.parse(UTF8ToString(request)));
    if (!file)
        return 0;
    const bytes = new Uint8Array(await file.arrayBuffer());
    FS.mkdirTree("/fichiers");
    const path = "/fichiers/" + file.name.split("/").join("_");
    FS.writeFile(path, bytes);
    return Module.talmoHid.text(path);
});
// The program writes under /enregistrements; once the job is over, the page
// hands what it wrote to the user (Module.talmoSaves), nothing when the
// write failed.
EM_ASYNC_JS(char*, talmo_view_save_file, (const char* request), {
    const saved = await Module.talmoView.saveFile(JSON.parse(UTF8ToString(request)));
    if (!saved)
        return 0;
    FS.mkdirTree("/enregistrements");
    const path = "/enregistrements/" + saved.name.split("/").join("_");
    Module.talmoSaves.push({path : path, saved : saved});
    return Module.talmoHid.text(path);
});
// Pages are named as the markup names them (PageName).
EM_JS(void, talmo_view_page, (const char* page),
      { Module.talmoView.showPage(UTF8ToString(page)); });
EM_JS(void, talmo_view_text, (const char* page, int control, const char* text),
      { Module.talmoView.setText(UTF8ToString(page), control, UTF8ToString(text)); });
EM_JS(void, talmo_view_set, (int what, const char* page, int control, int value), {
    const name = UTF8ToString(page);
    const v = Module.talmoView;
    if (what == 0)
        v.setPicture(name, control, value);
    else if (what == 1)
        v.setPosition(name, control, value);
    else if (what == 2)
        v.setVisible(name, control, value != 0);
    else
        v.setChecked(name, control, value != 0);
});
EM_JS(int, talmo_view_get, (int what, const char* page, int control), {
    const name = UTF8ToString(page);
    return (what == 0 ? Module.talmoView.checked(name, control)
                      : Module.talmoView.hasFocus(name, control))
               ? 1
               : 0;
});
EM_JS(void, talmo_view_open_address, (const char* address),
      { window.open(UTF8ToString(address), "_blank", "noopener"); });

#ifdef TALMO_WEB_DEMO
// The demo's side of the page (Module.talmoDemo, from app.js): its exchange
// log, the panel's actions made while a job runs, the device's state.
EM_JS(void, talmo_demo_line, (const char* line), { Module.talmoDemo.line(UTF8ToString(line)); });
EM_JS(void, talmo_demo_events, (), { Module.talmoDemo.events(); });
EM_JS(char*, talmo_demo_take_actions, (), {
    const actions = Module.talmoDemo.takeActions();
    return actions.length ? Module.talmoHid.text(actions.join("\n")) : 0;
});
EM_JS(void, talmo_demo_state, (const char* json),
      { Module.talmoDemo.state(JSON.parse(UTF8ToString(json))); });
#endif

// clang-format on

namespace talmo {
namespace {

// Time in the browser: waits hand the page back to the browser until they
// are over.
class BrowserClock final : public Clock {
public:
    std::int64_t nowUs() override {
        return static_cast<std::int64_t>(std::llround(emscripten_get_now() * 1000.0));
    }
    void sleepUs(std::int64_t us) override {
        if (us > 0)
            emscripten_sleep(static_cast<unsigned>((us + 999) / 1000));
    }
};

std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[(c >> 4) & 0xF];
            out += kHex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string RequestJson(const FileDialogRequest& r) {
    std::string filters;
    for (const FileFilter& f : r.filters)
        filters += (filters.empty() ? "" : ",") + std::string("{\"label\":") + JsonText(f.label) +
                   ",\"patterns\":" + JsonText(f.patterns) + "}";
    const std::string name = r.initialPath.substr(r.initialPath.find_last_of("/\\") + 1);
    return "{\"title\":" + JsonText(r.title) + ",\"filters\":[" + filters +
           "],\"defaultExtension\":" + JsonText(r.defaultExtension) +
           ",\"suggestedName\":" + JsonText(name) + "}";
}

std::optional<std::string> TakeText(char* path) {
    if (!path)
        return std::nullopt;
    std::string s = path;
    std::free(path);
    return s;
}

class BrowserUi final : public Ui {
public:
    // The demo's clock in place of the browser's, or back (null).
    void useClock(Clock* clock) { clock_ = clock ? clock : &browser_; }

    void setStatusText(int field, const std::string& text) override {
        talmo_view_status(field, text.c_str());
    }
    Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                      Buttons buttons) override {
        static constexpr Answer kAnswers[] = {Answer::Ok, Answer::Cancel, Answer::Yes, Answer::No};
        const int a = talmo_view_box(text.c_str(), caption.c_str(), static_cast<int>(icon),
                                     static_cast<int>(buttons));
        return kAnswers[a >= 0 && a < 4 ? a : 1];
    }
    std::optional<std::string> openFileDialog(const FileDialogRequest& request) override {
        return TakeText(talmo_view_open_file(RequestJson(request).c_str()));
    }
    std::optional<std::string> saveFileDialog(const FileDialogRequest& request) override {
        return TakeText(talmo_view_save_file(RequestJson(request).c_str()));
    }
    void waitMs(int ms) override { clock_->sleepMs(ms); }
    void progress(const char* phase, std::uint32_t done, std::uint32_t total) override {
        talmo_view_progress(phase, done, total);
    }
    Clock& clock() override { return *clock_; }

private:
    BrowserClock browser_;
    Clock* clock_ = &browser_;
};

class BrowserView final : public WebView {
public:
    void showPage(PageKind page) override { talmo_view_page(PageName(page)); }
    void setText(PageKind page, int control, const std::string& text) override {
        talmo_view_text(PageName(page), control, text.c_str());
    }
    void setPicture(PageKind page, int control, int picture) override {
        talmo_view_set(0, PageName(page), control, picture);
    }
    void setPosition(PageKind page, int control, int value) override {
        talmo_view_set(1, PageName(page), control, value);
    }
    void setVisible(PageKind page, int control, bool visible) override {
        talmo_view_set(2, PageName(page), control, visible);
    }
    void setChecked(PageKind page, int control, bool checked) override {
        talmo_view_set(3, PageName(page), control, checked);
    }
    bool checked(PageKind page, int control) override {
        return talmo_view_get(0, PageName(page), control) != 0;
    }
    bool hasFocus(PageKind page, int control) override {
        return talmo_view_get(1, PageName(page), control) != 0;
    }
    void openAddress(const std::string& address) override {
        talmo_view_open_address(address.c_str());
    }
};

struct Program {
    WebHidBackend webhid;
#ifndef TALMO_WEB_DEMO
    BrowserUi ui;
    BrowserView view;
    WebApp app{webhid, ui, view};
};
#else
    // The page's program with the demo inside it: the browser's WebHID or
    // the virtual TALMO, one at a time.
    SwitchBackend backend{webhid};
    BrowserUi ui;
    BrowserView view;
    WebApp app{backend, ui, view};
    // The demo, while the page runs it.
    std::unique_ptr<PacedClock> paced;
    std::unique_ptr<Demo> demo;

    // The panel's actions made since the last call, then the device's state.
    void demoActions() {
        if (!demo)
            return;
        const std::optional<std::string> actions = TakeText(talmo_demo_take_actions());
        if (!actions)
            return;
        std::size_t from = 0;
        while (from <= actions->size()) {
            const std::size_t end = std::min(actions->find('\n', from), actions->size());
            demo->act(actions->substr(from, end - from));
            from = end + 1;
        }
        demoState();
    }
    void demoState() { talmo_demo_state(demo->stateJson().c_str()); }

    void enterDemo(bool fast) {
        if (!demo) {
            paced = std::make_unique<PacedClock>(
                [] {
                    return static_cast<std::int64_t>(std::llround(emscripten_get_now() * 1000.0));
                },
                [](int ms) { emscripten_sleep(static_cast<unsigned>(ms)); });
            paced->onWait = [this] { demoActions(); };
            demo = std::make_unique<Demo>(
                *paced, [](const std::string& line) { talmo_demo_line(line.c_str()); },
                [] { talmo_demo_events(); }, [this] { demoState(); });
        }
        paced->setFast(fast);
        ui.useClock(paced.get());
        backend.use(demo->backend());
        demoState();
        demoActions();
        app.devicesChanged();
    }

    void leaveDemo() {
        if (!demo)
            return;
        backend.use(webhid);
        ui.useClock(nullptr);
        app.devicesChanged(); // the virtual TALMO leaves the link, a real one comes
        demo.reset();
        paced.reset();
    }
};
#endif

Program& TheProgram() {
    static Program program;
    return program;
}

} // namespace
} // namespace talmo

// The entry points of the page's script.
extern "C" {

EMSCRIPTEN_KEEPALIVE void talmo_start() { talmo::TheProgram().app.start(); }
EMSCRIPTEN_KEEPALIVE void talmo_devices_changed() { talmo::TheProgram().app.devicesChanged(); }
EMSCRIPTEN_KEEPALIVE void talmo_tick() { talmo::TheProgram().app.tick(); }
// page: its number in talmo_numbers()'s "pages"; event: 0 click, 1 input,
// 2 blur, 3 toggle.
EMSCRIPTEN_KEEPALIVE void talmo_command(int page, int control, int event, const char* value) {
    if (page < 0 || page >= talmo::kPageCount || event < 0 || event > 3)
        return;
    talmo::TheProgram().app.command(static_cast<talmo::PageKind>(page), control,
                                    static_cast<talmo::ControlEvent>(event), value ? value : "");
}
EMSCRIPTEN_KEEPALIVE int talmo_connected() { return talmo::TheProgram().app.link().connected(); }
#ifdef TALMO_WEB_DEMO
// The demo: entered (fast: the fast pace), its pace changed, the panel's
// actions taken while no job runs, left.
EMSCRIPTEN_KEEPALIVE void talmo_demo_enter(int fast) { talmo::TheProgram().enterDemo(fast != 0); }
EMSCRIPTEN_KEEPALIVE void talmo_demo_pace(int fast) {
    if (talmo::TheProgram().paced)
        talmo::TheProgram().paced->setFast(fast != 0);
}
EMSCRIPTEN_KEEPALIVE void talmo_demo_apply() { talmo::TheProgram().demoActions(); }
EMSCRIPTEN_KEEPALIVE void talmo_demo_leave() { talmo::TheProgram().leaveDemo(); }
#endif
EMSCRIPTEN_KEEPALIVE int talmo_page() {
    return static_cast<int>(talmo::TheProgram().app.currentPage());
}
// Every number the page's script needs (page kinds, controls, pictures), as
// one JSON text (talmo::PageNumbersJson); the text lives as long as the program.
EMSCRIPTEN_KEEPALIVE const char* talmo_numbers() {
    static const std::string numbers = talmo::PageNumbersJson();
    return numbers.c_str();
}
}

// Made at load, so that Module.talmoHid is there when the page's script
// starts.
int main() {
    talmo::TheProgram();
    return 0;
}
