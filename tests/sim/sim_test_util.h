// Small helpers for driving the emulator in its own tests.
#pragma once

#include "core/clock.h"
#include "sim/pic.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>

namespace simtest {

inline sim::Report request(char letter, std::initializer_list<std::uint8_t> args = {}) {
    sim::Report r{};
    r[1] = static_cast<std::uint8_t>(letter);
    std::size_t i = 2;
    for (auto a : args)
        r[i++] = a;
    return r;
}

// The report that restarts the device: target 1 the boot loader, 0 the application.
inline sim::Report jump(std::uint8_t target) { return request('Z', {'U', 0xAA, target}); }

// The NUL-terminated text of a report from byte `from` on.
inline std::string textAt(const sim::Report& r, std::size_t from) {
    std::string s;
    for (std::size_t i = from; i < r.size() && r[i] != 0; ++i)
        s += static_cast<char>(r[i]);
    return s;
}

// A TALMO talked to directly, at a time that moves only when told.
struct Dev {
    sim::Talmo t;
    std::int64_t now = 0;
    std::optional<sim::Report> ask(const sim::Report& r) { return t.exchange(r, now); }
    std::optional<sim::Report> ask(char letter, std::initializer_list<std::uint8_t> args = {}) {
        return ask(request(letter, args));
    }
};

// Drives a Pic's serial interface with a time that moves only when told.
struct PicDriver {
    sim::Pic& pic;
    std::int64_t now = 0;

    void enter() { pic.enterProgramming(now); }
    void leave() { pic.leaveProgramming(now); }
    void cmd(std::uint8_t code) { pic.serial(code, sim::PicTransfer::None, 0, now); }
    void load(std::uint8_t code, std::uint16_t w) {
        pic.serial(code, sim::PicTransfer::Load, w, now);
    }
    std::uint16_t read(std::uint8_t code) {
        return pic.serial(code, sim::PicTransfer::Read, 0, now);
    }
    void waitMs(int ms) { now += static_cast<std::int64_t>(ms) * 1000; }
    void inc(int n = 1) {
        for (int i = 0; i < n; ++i)
            cmd(0x06);
    }
    // Counter to 0x2000 + k.
    void config(int k, std::uint16_t data = 0) {
        load(0x00, data);
        inc(k);
    }
    // Runs `steps`, words apart: LC=, LP=, LD= load the configuration,
    // program or data latch with a hex value; INC or INC*n; W<ms> waits; S1
    // and S2 the 87x set-ups, BEP Begin Erase/Program, BPO Begin Programming
    // Only, END End Programming, BP and BD the bulk erases, CE chip erase.
    void run(const std::string& steps) {
        const std::pair<const char*, std::uint8_t> codes[] = {
            {"S1", 0x01},  {"S2", 0x07}, {"BEP", 0x08}, {"BPO", 0x18},
            {"END", 0x17}, {"BP", 0x09}, {"BD", 0x0B},  {"CE", 0x1F}};
        std::istringstream in(steps);
        for (std::string w; in >> w;) {
            bool known = true;
            if (w[0] == 'L')
                load(w[1] == 'C'   ? 0x00
                     : w[1] == 'P' ? 0x02
                                   : 0x03,
                     static_cast<std::uint16_t>(std::stoul(w.substr(3), nullptr, 16)));
            else if (w.rfind("INC", 0) == 0)
                inc(w.size() > 4 ? std::stoi(w.substr(4)) : 1);
            else if (w[0] == 'W')
                waitMs(std::stoi(w.substr(1)));
            else
                known = false;
            for (const auto& [name, code] : codes)
                if (w == name) {
                    cmd(code);
                    known = true;
                }
            EXPECT_TRUE(known) << "unknown step " << w;
        }
    }
};

// The 87x bulk erase: set-up 1 and 2, Begin Erase/Program, its time, set-up 1 and 2 again.
inline const std::string kBulk87x = " S1 S2 BEP W16 S1 S2";

} // namespace simtest
