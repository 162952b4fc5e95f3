#pragma once

// Numbers as a person types them into an edit box: blanks around them and a leading "+" are
// allowed, nothing else beside the number.
//
//   if (const std::optional<double> value = qel::ParseTypedNumber(GetDlgItemText(id))) ...

#include <optional>
#include <string>
#include <string_view>

namespace qel {

// The text without the blanks (spaces, tabs, line ends) around it.
std::string TrimBlanks(std::string_view text);
// The number typed; std::nullopt for an empty text, anything beside the number, or a value that
// is not finite.
std::optional<double> ParseTypedNumber(std::string_view typed);

}  // namespace qel
