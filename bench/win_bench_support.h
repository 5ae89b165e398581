// Small helpers shared by the Windows benchmarks.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace bench {

// The plain login a Client sends first, with the pair a Server without a
// stored one takes: "QB" and the year, "PW", the month and the day. True
// once the Server answered "ACK".
inline bool LogIn(SOCKET s) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string request = "PWQB" + std::to_string(now.wYear) + "PW" + std::to_string(now.wMonth) +
                                std::to_string(now.wDay);
    char answer[16];
    return send(s, request.data(), int(request.size()), 0) == int(request.size()) &&
           recv(s, answer, sizeof answer, 0) == 3 && std::memcmp(answer, "ACK", 3) == 0;
}

// A folder of its own below the temp folder, named by tag and process.
inline std::wstring MakeTempFolder(const wchar_t* tag) {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"qb_bench_" + tag + L"_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// Removes a folder and the files directly in it.
inline void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (data.cFileName[0] != L'.') DeleteFileW((folder + L"\\" + data.cFileName).c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

// Text in the ANSI code page, as the program puts paths on the wire.
inline std::string Ansi(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace bench
