#pragma once

#include <locale>
#include <sstream>
#include <string>

namespace korvex::foundation::detail {

// Writes the pieces one after another into one text stream in its default
// state, so every double comes out as printf's %g with 6 significant digits
// (1, 0.01, 1.23457e+06, -0). The classic locale is imbued so that a
// program-wide locale can never add digit grouping or change the decimal point.
// 32-bit floats must be widened to double by the caller.
template <typename... Pieces>
std::string text_form(const Pieces&... pieces) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    (out << ... << pieces);
    return out.str();
}

}  // namespace korvex::foundation::detail
