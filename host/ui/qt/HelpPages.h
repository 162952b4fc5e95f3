#pragma once

// Help as HTML pages in a folder: the host names the help file as <help folder>/topics.json, a
// map from the dialogs' topic numbers to the folder's pages,
//
//   {"topics": [{"topic": "0x40106", "page": "drive-setup.html", "title": "Drive Setup"}, ...]}
//
// beside an index.html, which opens for a topic the map does not list. The page opens in the
// desktop's browser; the opener can be replaced (tests record the address instead).
//
//   ui::qt::HelpPage page = ui::qt::FindHelpPage("/usr/share/brevan/help/topics.json", 0x40106);
//   if (!page.problem.empty()) report(page.problem); else opener(page.url);

#include <QUrl>
#include <filesystem>
#include <functional>
#include <string>

#include "host/ui/AfxTypes.h"

namespace ui::qt {

struct HelpPage {
    QUrl url;             // the page to open (a local file)
    std::string problem;  // why there is none, for the user
};

HelpPage FindHelpPage(const std::filesystem::path& topicsFile, DWORD_PTR topic);

// Opens an address in the desktop's browser; false when nothing could open it.
using UrlOpener = std::function<bool(const QUrl& url)>;
UrlOpener DesktopUrlOpener();

}  // namespace ui::qt
