#include "cli/CliCommon.h"

#include "platform/os/Text.h"

#include <cstdio>
#include <iostream>

namespace tonemirror::cli {

void printError(std::string_view message) {
    std::cerr << "tonemirror-cli: " << message << '\n';
}

std::string fieldText(const char16_t* field, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && field[n] != 0) {
        ++n;
    }
    return os::utf16ToUtf8(std::u16string_view(field, n));
}

std::string resultName(HResult result) {
    switch (result) {
    case S_OK: return "S_OK";
    case E_FAIL: return "E_FAIL";
    case E_INVALIDARG: return "E_INVALIDARG";
    case E_NOTIMPL: return "E_NOTIMPL";
    case E_NOINTERFACE: return "E_NOINTERFACE";
    case E_OUTOFMEMORY: return "E_OUTOFMEMORY";
    case E_END_OF_STREAM: return "E_END_OF_STREAM";
    default: break;
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(result));
    return buffer;
}

} // namespace tonemirror::cli
