// The file system as listings and settings see it on Windows.
#pragma once

#include <windows.h>

#include <string>

#include "core/panes/folder_rows.h"
#include "core/settings/settings.h"

// FindFirstFileW for the entries and, for a compressed or sparse file,
// GetCompressedFileSizeW for the space it takes on disk (any other takes its
// size), GetDriveTypeW for the drives: the one source of both the
// left pane's rows and the directory table sent to the peer.
class WinFolderSource : public quorbel::FolderSource {
public:
    int DriveTypeOf(quorbel::u16view root) override;
    bool ListFolder(quorbel::u16view folder,
                    const std::function<bool(const quorbel::FolderEntry&)>& visit) override;
    std::unique_ptr<quorbel::FolderCursor> OpenFolder(quorbel::u16view folder) override;
};

// A section of an INI file through the private-profile functions.
class WinIniSection : public quorbel::IniSection {
public:
    WinIniSection(std::wstring file, std::wstring section);
    int32_t ReadInt(quorbel::u16view key, int32_t fallback) override;
    quorbel::u16 ReadText(quorbel::u16view key, quorbel::u16view fallback, std::size_t maxChars) override;
    void WriteText(quorbel::u16view key, quorbel::u16view value) override;

private:
    std::wstring file_, section_;
};

// A FILETIME as its 64-bit value and back.
inline uint64_t FileTimeValue(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }
inline FILETIME ToFileTime(uint64_t value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}
