// A window manager's ping, as desktops send it: _NET_WM_PING to one window
// every 500 ms until the file END exists (the job has ended), each answer
// timed. Prints every late answer and a summary; exit status 0 when every
// ping was answered within 1 s and the window was there until the end (a
// ping still out when the window went at the end does not count).
//   x_ping WINDOW_ID END
// The answer goes to the root window with the redirect mask, so only the
// window manager gets it; it is seen here as the client's SendEvent request,
// through the server's RECORD extension.
#include <xcb/record.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(500);
constexpr auto kLimit = std::chrono::milliseconds(1000);

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
}

bool exists(xcb_connection_t* c, xcb_window_t window) {
    xcb_generic_error_t* error = nullptr;
    xcb_get_window_attributes_reply_t* r =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), &error);
    std::free(error);
    const bool there = r != nullptr;
    std::free(r);
    return there;
}

// Answers seen so far: stamp, and when.
constexpr std::uint8_t kFromClient = 1; // a reply category of RECORD: requests
std::mutex answersLock;
std::map<std::uint32_t, Clock::time_point> answers;

// Follows every client's SendEvent requests; notes the ping answers.
void followAnswers(xcb_connection_t* control, xcb_atom_t ping, xcb_window_t root) {
    xcb_connection_t* data = xcb_connect(nullptr, nullptr);
    const xcb_record_context_t context = xcb_generate_id(control);
    xcb_record_range_t range{};
    range.core_requests.first = XCB_SEND_EVENT;
    range.core_requests.last = XCB_SEND_EVENT;
    xcb_record_client_spec_t clients = XCB_RECORD_CS_ALL_CLIENTS;
    xcb_generic_error_t* error = xcb_request_check(
        control, xcb_record_create_context_checked(control, context, 0, 1, 1, &clients, &range));
    if (error) {
        std::fprintf(stderr, "x_ping: no RECORD extension\n");
        std::exit(2);
    }
    const xcb_record_enable_context_cookie_t cookie = xcb_record_enable_context(data, context);
    while (xcb_record_enable_context_reply_t* r =
               xcb_record_enable_context_reply(data, cookie, nullptr)) {
        const std::uint8_t* bytes = xcb_record_enable_context_data(r);
        const int length = xcb_record_enable_context_data_length(r);
        // A SendEvent request: opcode, length, destination, mask, then the
        // 32-byte event; a client message's data starts at its byte 12.
        if (r->category == kFromClient && length >= 44 && bytes[0] == XCB_SEND_EVENT &&
            (bytes[12] & 0x7F) == XCB_CLIENT_MESSAGE) {
            std::uint32_t destination, words[3];
            std::memcpy(&destination, bytes + 4, sizeof destination);
            std::memcpy(words, bytes + 12 + 12, sizeof words);
            // Answers go to the root window (the pings themselves, to the window).
            if (destination == root && words[0] == ping) {
                const std::lock_guard<std::mutex> hold(answersLock);
                answers.emplace(words[1], Clock::now());
            }
        }
        std::free(r);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: x_ping WINDOW_ID END\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const auto window = static_cast<xcb_window_t>(std::strtoul(argv[1], nullptr, 0));
    const std::filesystem::path end = argv[2];
    // The window gone: the end, if END comes soon; else a failure.
    const auto ended = [&end] {
        for (int i = 0; i < 400 && !std::filesystem::exists(end); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return std::filesystem::exists(end);
    };
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "x_ping: no display\n");
        return 2;
    }
    const xcb_atom_t protocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t ping = atom(c, "_NET_WM_PING");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    std::thread(followAnswers, c, ping, root).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // recording under way

    std::map<std::uint32_t, Clock::time_point> sent; // unanswered, by stamp
    std::uint32_t stamp = 0;
    int pings = 0, late = 0;
    Clock::duration longest{};
    const auto ms = [](Clock::duration d) {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
    };
    // A ping answered after `took`, or still unanswered then.
    const auto answered = [&](std::uint32_t s, Clock::duration took, bool yet) {
        longest = std::max(longest, took);
        if (took > kLimit && ++late)
            std::printf("ping %u %s after %lld ms\n", s, yet ? "answered" : "unanswered", ms(took));
    };
    auto next = Clock::now();
    bool early = false;
    while (!std::filesystem::exists(end)) {
        const auto now = Clock::now();
        if (now >= next) {
            xcb_client_message_event_t e{};
            e.response_type = XCB_CLIENT_MESSAGE;
            e.format = 32;
            e.window = window;
            e.type = protocols;
            e.data.data32[0] = ping;
            e.data.data32[1] = ++stamp;
            e.data.data32[2] = window;
            const xcb_void_cookie_t cookie = xcb_send_event_checked(
                c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
            if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
                std::free(error); // the window is gone
                early = !ended();
                break;
            }
            sent[stamp] = now;
            ++pings;
            next += kPeriod;
        }
        {
            const std::lock_guard<std::mutex> hold(answersLock);
            for (const auto& [stamped, when] : answers)
                if (auto it = sent.find(stamped); it != sent.end()) {
                    answered(stamped, when - it->second, true);
                    sent.erase(it);
                }
            answers.clear();
        }
        if (xcb_connection_has_error(c))
            break;
        // Pings without an answer for longer than the limit are late already,
        // unless the window went meanwhile.
        if (!sent.empty() && Clock::now() - sent.begin()->second > kLimit && !exists(c, window)) {
            early = !ended();
            break;
        }
        while (!sent.empty() && Clock::now() - sent.begin()->second > kLimit) {
            answered(sent.begin()->first, Clock::now() - sent.begin()->second, false);
            sent.erase(sent.begin());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::printf("pings: %d, answered after more than 1 s or never: %d, longest answer: %lld ms\n",
                pings, late, ms(longest));
    if (early)
        std::printf("the window went before the job ended\n");
    std::fflush(stdout);
    const bool passed = late == 0 && pings > 0 && !early;
    std::_Exit(passed ? 0 : 1); // the recording thread stays blocked
    return passed ? 0 : 1;
}
