// Scaling a stylesheet for the monitor: every length of the size properties
// (their scale kind is in the property table) is multiplied by the UI scale,
// as text, so the scaled copy can be written out and read like the original.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "ui/kiln/properties.h"
#include "ui/kiln/style.h"

namespace kiln {

using ember::launcher::isAsciiDigit;
using ember::launcher::trim;

namespace {

std::string removeComments(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t open = text.find("/*", pos);
        if (open == std::string::npos) {
            out.append(text, pos, std::string::npos);
            break;
        }
        out.append(text, pos, open - pos);
        size_t close = text.find("*/", open + 2);
        pos = close == std::string::npos ? text.size() : close + 2;
    }
    return out;
}

// A number token of the scaler (sign, digits and dots): read in double so
// that long numbers keep their digits; "." and "1.2.3" read as far as valid.
double readDouble(std::string_view token) {
    std::string copy(token);
    char* end = nullptr;
    double value = std::strtod(copy.c_str(), &end);
    return end != copy.c_str() && std::isfinite(value) ? value : 0.0;
}

// Two decimals, then no trailing zeros and no trailing point.
void appendNumber(std::string& out, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    std::string_view text(buffer);
    if (text.find('.') != std::string_view::npos) {
        while (text.back() == '0') text.remove_suffix(1);
        if (text.back() == '.') text.remove_suffix(1);
    }
    if (text == "-0") text = "0";
    out += text;
}

// Copies a declaration value with every number scaled, except numbers in
// rgb()/rgba(), numbers followed by '%', and #hex words.
void appendScaledValue(std::string& out, std::string_view value, double scale, ScaleKind kind) {
    const size_t n = value.size();
    size_t i = 0;
    while (i < n) {
        char c = value[i];
        // #hex words are colours.
        if (c == '#') {
            size_t end = i + 1;
            while (end < n && isNameChar(value[end]) && value[end] != '-') ++end;
            out.append(value.substr(i, end - i));
            i = end;
            continue;
        }
        // rgb(...) and rgba(...) up to the closing parenthesis.
        if (c == 'r' && value.substr(i, 3) == "rgb") {
            size_t close = value.find(')', i);
            size_t end = close == std::string_view::npos ? n : close + 1;
            out.append(value.substr(i, end - i));
            i = end;
            continue;
        }
        // A number: an optional sign, a digit or '.', then digits and dots.
        size_t digits = (c == '+' || c == '-') ? i + 1 : i;
        if (digits < n && (isAsciiDigit(value[digits]) || value[digits] == '.')) {
            size_t end = digits + 1;
            while (end < n && (isAsciiDigit(value[end]) || value[end] == '.')) ++end;
            std::string_view token = value.substr(i, end - i);
            if (end < n && value[end] == '%') {
                out.append(token);
                i = end;
                continue;
            }
            double original = readDouble(token);
            double result = original * scale;
            // Borders stay whole pixels, at least 1 when drawn at all.
            if (kind == ScaleKind::Border && result > 0) result = std::max(1.0, std::round(result));
            // Hairline sizes stay crisp.
            if (kind == ScaleKind::Size && original > 0 && original <= 3) result = std::max(1.0, std::round(result));
            // Absurd numbers are left as written rather than printed in full.
            if (std::fabs(result) < 1e15) {
                appendNumber(out, result);
            } else {
                out.append(token);
            }
            i = end;
            continue;
        }
        out += c;
        ++i;
    }
}

}  // namespace

std::string scaleStylesheet(const std::string& text, float scale) {
    std::string clean = removeComments(text);
    // 100 % scaling (and a nonsense scale) leaves the text as it is.
    if (!(std::fabs(scale - 1.0f) >= 0.001f) || !(scale > 0) || !std::isfinite(scale)) return clean;

    const std::string_view all(clean);
    std::string out;
    out.reserve(clean.size() + clean.size() / 4);
    size_t pos = 0;
    while (pos < all.size()) {
        // Selector text is copied as it is, and so are an @media prelude
        // with its '{' and the '}' that closes its block.
        size_t open = all.find('{', pos);
        if (open == std::string_view::npos) {
            out.append(all.substr(pos));
            break;
        }
        const size_t first = all.find_first_not_of(" \t\r\n\f\v", pos);
        if (first < open && all[first] == '}') {
            out.append(all.substr(pos, first + 1 - pos));
            pos = first + 1;
            continue;
        }
        out.append(all.substr(pos, open + 1 - pos));
        if (first < open && all[first] == '@') {
            pos = open + 1;
            continue;
        }
        size_t close = all.find('}', open + 1);
        size_t bodyEnd = close == std::string_view::npos ? all.size() : close;

        // Each declaration of the body; only listed properties change.
        size_t start = open + 1;
        while (start < bodyEnd) {
            size_t semi = all.find(';', start);
            size_t end = semi == std::string_view::npos || semi > bodyEnd ? bodyEnd : semi;
            std::string_view piece = all.substr(start, end - start);
            size_t colon = piece.find(':');
            ScaleKind kind = colon == std::string_view::npos ? ScaleKind::None : scaleKindOf(trim(piece.substr(0, colon)));
            if (kind == ScaleKind::None) {
                out.append(piece);
            } else {
                out.append(piece.substr(0, colon + 1));
                appendScaledValue(out, piece.substr(colon + 1), scale, kind);
            }
            if (end < bodyEnd) out += ';';
            start = end + 1;
        }
        if (close == std::string_view::npos) break;
        out += '}';
        pos = close + 1;
    }
    return out;
}

}  // namespace kiln
