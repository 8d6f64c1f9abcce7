#pragma once

#include <string>

// Every byte value but CR and LF, in order: a text that must survive the line formats unchanged.
inline std::string allBytesButLineBreaks() {
    std::string s;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            s += static_cast<char>(b);
    }
    return s;
}
