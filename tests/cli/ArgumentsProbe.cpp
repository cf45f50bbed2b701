// Stands in for the window program in win_programs_wine.py: writes the
// command line it was started with, as UTF-8, to the file named by
// QDIPC_ARGUMENTS_LOG (written whole under a temporary name, then renamed).

#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    const wchar_t* log = _wgetenv(L"QDIPC_ARGUMENTS_LOG");
    if (log == nullptr) {
        return 1;
    }
    const wchar_t* line = GetCommandLineW();
    const int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), length, nullptr, nullptr);
    text.resize(text.size() - 1);
    const std::wstring partial = std::wstring(log) + L".part";
    FILE* file = _wfopen(partial.c_str(), L"wb");
    if (file == nullptr) {
        return 1;
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return MoveFileW(partial.c_str(), log) ? 0 : 1;
}
