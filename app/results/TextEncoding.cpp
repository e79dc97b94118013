#include "results/TextEncoding.h"

#include <cctype>
#include <filesystem>

namespace Trelis {

namespace {

// Length of a valid UTF-8 sequence starting at `p` (at most `left` bytes), 0 when invalid.
std::size_t utf8Length(const unsigned char* p, std::size_t left) {
    if (p[0] < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned int code = 0;
    if ((p[0] & 0xE0) == 0xC0) {
        length = 2;
        code = p[0] & 0x1F;
    } else if ((p[0] & 0xF0) == 0xE0) {
        length = 3;
        code = p[0] & 0x0F;
    } else if ((p[0] & 0xF8) == 0xF0) {
        length = 4;
        code = p[0] & 0x07;
    } else {
        return 0;
    }
    if (length > left) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (p[i] & 0x3F);
    }
    static const unsigned int smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;  // overlong, beyond Unicode, or a surrogate
    }
    return length;
}

}  // namespace

std::string cleanName(const std::string& text) {
    std::string clean;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8Length(bytes + i, text.size() - i);
        if (length == 0) {
            clean += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
        } else {
            if (length > 1 || (bytes[i] >= 0x20 && bytes[i] != 0x7F)) {
                clean.append(text, i, length);
            }
            i += length;
        }
    }
    return clean;
}

std::string fileUrl(const std::string& absolutePath, const std::string& host) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://" + host;
    for (const unsigned char c : absolutePath) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

std::string absolutePath(const std::string& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    return absolute.lexically_normal().string();
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace Trelis
