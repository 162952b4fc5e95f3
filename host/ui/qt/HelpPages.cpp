#include "host/ui/qt/HelpPages.h"

#include <QDesktopServices>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

namespace ui::qt {
namespace {

constexpr const char* kIndexPage = "index.html";

std::string HexTopic(DWORD_PTR topic) {
    std::ostringstream text;
    text << "0x" << std::hex << topic;
    return text.str();
}

// A topic number as the map writes it: a text in hexadecimal ("0x40106") or decimal, or a number.
std::optional<DWORD_PTR> TopicNumber(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        return value.get<DWORD_PTR>();
    }
    if (!value.is_string()) {
        return std::nullopt;
    }
    const std::string text = value.get<std::string>();
    try {
        std::size_t used = 0;
        const unsigned long long number = std::stoull(text, &used, 0);
        return used == text.size() ? std::optional<DWORD_PTR>(static_cast<DWORD_PTR>(number))
                                   : std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

HelpPage FindHelpPage(const std::filesystem::path& topicsFile, DWORD_PTR topic) {
    HelpPage page;
    std::ifstream file(topicsFile, std::ios::binary);
    if (!file) {
        page.problem = "The help cannot be shown: the help file " + topicsFile.string() +
                       " does not exist or cannot be read.";
        return page;
    }
    const nlohmann::json map = nlohmann::json::parse(file, nullptr, false);
    if (map.is_discarded() || !map.is_object() || !map.contains("topics") ||
        !map["topics"].is_array()) {
        page.problem = "The help cannot be shown: the help file " + topicsFile.string() +
                       " is not a map of topics ({\"topics\": [...]}).";
        return page;
    }
    std::string pageName = kIndexPage;
    for (const nlohmann::json& entry : map["topics"]) {
        if (entry.is_object() && entry.contains("topic") && entry.contains("page") &&
            entry["page"].is_string() && TopicNumber(entry["topic"]) == topic) {
            pageName = entry["page"].get<std::string>();
            break;
        }
    }
    const std::filesystem::path pagePath =
        std::filesystem::absolute(topicsFile).parent_path() / pageName;
    if (!std::filesystem::exists(pagePath)) {
        page.problem = "The help for topic " + HexTopic(topic) + " cannot be shown: the page " +
                       pagePath.string() + " does not exist.";
        return page;
    }
    page.url = QUrl::fromLocalFile(QString::fromStdString(pagePath.string()));
    return page;
}

UrlOpener DesktopUrlOpener() {
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

}  // namespace ui::qt
