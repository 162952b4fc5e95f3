#pragma once

// The JSON a command prints. Its texts come from setups, motor files, drive programs and the
// command line, and may hold bytes that are not UTF-8 (an option set to Windows-1252 text, say),
// on which the JSON library's dump throws: every text, member names among them, is made UTF-8 as
// the program shows texts everywhere (ui::DisplayUtf8) before the dump.
//
//   std::printf("%s\n", DumpReport(report, 2).c_str());

#include <nlohmann/json.hpp>
#include <string>

#include "host/ui/Utf8Text.h"

template <class JsonType>
JsonType WithUtf8Texts(const JsonType& value) {
    if (value.is_string()) {
        return ui::DisplayUtf8(value.template get_ref<const typename JsonType::string_t&>());
    }
    if (value.is_array()) {
        JsonType array = JsonType::array();
        for (const JsonType& item : value) {
            array.push_back(WithUtf8Texts(item));
        }
        return array;
    }
    if (value.is_object()) {
        JsonType object = JsonType::object();
        for (const auto& item : value.items()) {
            object[ui::DisplayUtf8(item.key())] = WithUtf8Texts(item.value());
        }
        return object;
    }
    return value;
}

// The report's text; indent as nlohmann's dump takes it (-1: on one line). No text is left that
// is not UTF-8, so the replacing error handler only stands guard.
template <class JsonType>
std::string DumpReport(const JsonType& report, int indent = -1) {
    return WithUtf8Texts(report).dump(indent, ' ', false, JsonType::error_handler_t::replace);
}
