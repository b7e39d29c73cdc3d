#include "Utf8Console.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

#include <cstring>
#else
#include <cstdlib>
#endif

namespace jetdb {

#ifdef _WIN32

static std::string toUtf8(const wchar_t* text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.pop_back(); // the terminating NUL
    return out;
}

std::vector<std::string> Utf8Console::arguments(int argc, wchar_t** argv)
{
    std::vector<std::string> out;
    for (int i = 1; i < argc; ++i) out.push_back(toUtf8(argv[i]));
    return out;
}

void Utf8Console::prepareOutput()
{
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::optional<std::string> Utf8Console::environment(const char* name)
{
    const std::wstring wide(name, name + std::strlen(name));
    const wchar_t* value = _wgetenv(wide.c_str());
    if (!value) return std::nullopt;
    return toUtf8(value);
}

#else

std::vector<std::string> Utf8Console::arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

void Utf8Console::prepareOutput() {}

std::optional<std::string> Utf8Console::environment(const char* name)
{
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

#endif

} // namespace jetdb
