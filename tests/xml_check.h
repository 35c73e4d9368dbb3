// A small XML well-formedness check for the host's SVG output: one root,
// matched tags, quoted attributes, known entities, no stray markup in text.
#ifndef TIDEMARK_TESTS_XML_CHECK_H
#define TIDEMARK_TESTS_XML_CHECK_H

#include <cstddef>
#include <string>
#include <vector>

namespace xml_check {

// Returns "" when well-formed, else what is wrong and where.
inline std::string problem(const std::string& doc, std::size_t* elements = nullptr) {
    std::vector<std::string> open;
    std::size_t pos = 0, count = 0;
    bool root_seen = false;
    const auto at = [&](const std::string& what) { return what + " at byte " + std::to_string(pos); };
    const auto name_char = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == ':' || c == '.';
    };
    const auto entity_ok = [&](std::size_t amp) {
        const std::size_t semi = doc.find(';', amp);
        if (semi == std::string::npos || semi - amp > 8) return false;
        const std::string e = doc.substr(amp + 1, semi - amp - 1);
        return e == "amp" || e == "lt" || e == "gt" || e == "quot" || e == "apos" ||
               (e.size() > 1 && e[0] == '#');
    };
    // The document says it is UTF-8: every byte must belong to a valid
    // sequence (no overlong forms, surrogates or code points past U+10FFFF).
    for (std::size_t i = 0; i < doc.size();) {
        const auto b = [&](std::size_t k) { return k < doc.size() ? static_cast<unsigned char>(doc[k]) : 0u; };
        const unsigned lead = b(i);
        std::size_t n = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
        unsigned cp = n == 1 ? lead : lead & (0xFFu >> (n + 1));
        for (std::size_t k = 1; k < n; ++k) {
            if ((b(i + k) & 0xC0) != 0x80) n = 0;
            cp = (cp << 6) | (b(i + k) & 0x3F);
        }
        if (n == 0 || (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return "invalid UTF-8 at byte " + std::to_string(i);
        i += n;
    }
    if (doc.compare(0, 5, "<?xml") == 0) {
        pos = doc.find("?>");
        if (pos == std::string::npos) return "unterminated XML declaration";
        pos += 2;
    }
    while (pos < doc.size()) {
        if (doc[pos] != '<') {
            if (doc[pos] == '&' && !entity_ok(pos)) return at("bad entity");
            if (open.empty() && doc[pos] != '\n' && doc[pos] != ' ') return at("text outside the root");
            ++pos;
            continue;
        }
        if (doc.compare(pos, 4, "<!--") == 0) {
            pos = doc.find("-->", pos);
            if (pos == std::string::npos) return "unterminated comment";
            pos += 3;
            continue;
        }
        const bool closing = doc.compare(pos, 2, "</") == 0;
        pos += closing ? 2 : 1;
        const std::size_t name_start = pos;
        while (pos < doc.size() && name_char(doc[pos])) ++pos;
        const std::string name = doc.substr(name_start, pos - name_start);
        if (name.empty()) return at("tag without a name");
        if (closing) {
            while (pos < doc.size() && doc[pos] == ' ') ++pos;
            if (pos >= doc.size() || doc[pos] != '>') return at("bad closing tag");
            if (open.empty() || open.back() != name) return at("</" + name + "> does not match");
            open.pop_back();
            ++pos;
            continue;
        }
        if (open.empty()) {
            if (root_seen) return at("second root element");
            root_seen = true;
        }
        ++count;
        std::vector<std::string> attributes;
        for (;;) {
            while (pos < doc.size() && (doc[pos] == ' ' || doc[pos] == '\n' || doc[pos] == '\t')) ++pos;
            if (pos >= doc.size()) return "unterminated tag <" + name;
            if (doc[pos] == '>') {
                open.push_back(name);
                ++pos;
                break;
            }
            if (doc.compare(pos, 2, "/>") == 0) {
                pos += 2;
                break;
            }
            const std::size_t attr_start = pos;
            while (pos < doc.size() && name_char(doc[pos])) ++pos;
            const std::string attr = doc.substr(attr_start, pos - attr_start);
            if (attr.empty() || pos + 1 >= doc.size() || doc[pos] != '=' || doc[pos + 1] != '"')
                return at("bad attribute in <" + name + ">");
            for (const std::string& seen : attributes)
                if (seen == attr) return at("repeated attribute " + attr);
            attributes.push_back(attr);
            pos += 2;
            for (; pos < doc.size() && doc[pos] != '"'; ++pos) {
                if (doc[pos] == '<') return at("'<' in an attribute value");
                if (doc[pos] == '&' && !entity_ok(pos)) return at("bad entity in an attribute");
            }
            if (pos >= doc.size()) return "unterminated attribute value";
            ++pos;
        }
    }
    if (!root_seen) return "no root element";
    if (!open.empty()) return "<" + open.back() + "> is never closed";
    if (elements != nullptr) *elements = count;
    return "";
}

}  // namespace xml_check

#endif
