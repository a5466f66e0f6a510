// Controls that belong to no one job: the footer that every page carries,
// and the waiting page's, which the window and the web page both show.
// Plain numbers, so that code without Qt (the web page's shell) names them
// as the window does.
#pragma once

namespace talmo {

// The caption of the button that opens the maker's web site.
inline constexpr char kWebSiteCaption[] = "Site web TALMO";

// Controls of the footer that every page carries.
enum FooterControl : int {
    kFooterIconControl = 107, // icon 107 (a picture without its own number)
    kWebSiteButton = 106,     // "Site web TALMO"
    kVersionControl = 1050,   // program version, written by the main window
};

// Controls of the waiting page (besides its footer).
enum WaitingControl : int {
    kWaitingProgressBar = 1003, // the bar that goes back and forth
};

} // namespace talmo
