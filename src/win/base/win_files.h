// The file system as listings, settings and the protocol see it on Windows.
#pragma once

#include <windows.h>

#include <string>

#include "core/panes/folder_rows.h"
#include "core/protocol/files.h"
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

// The files the protocol lists, reads and writes: the folders through
// WinFolderSource, each transfer file a handle of its own, not shared.
class WinFileStore : public quorbel::FileStore {
public:
    int DriveTypeOf(quorbel::u16view root) override { return folders_.DriveTypeOf(root); }
    bool ListFolder(quorbel::u16view folder,
                    const std::function<bool(const quorbel::FolderEntry&)>& visit) override {
        return folders_.ListFolder(folder, visit);
    }
    std::unique_ptr<quorbel::FolderCursor> OpenFolder(quorbel::u16view folder) override {
        return folders_.OpenFolder(folder);
    }
    bool CreateFolder(quorbel::u16view path) override;
    bool FileExists(quorbel::u16view path) override;
    bool FolderExists(quorbel::u16view path) override;
    std::unique_ptr<quorbel::SourceFile> OpenForRead(quorbel::u16view path, uint64_t& size) override;
    std::unique_ptr<quorbel::TargetFile> CreateNew(quorbel::u16view path) override;
    std::unique_ptr<quorbel::TargetFile> OpenForAppend(quorbel::u16view path, uint64_t& size) override;
    bool RemoveFile(quorbel::u16view path) override;
    bool MoveIntoPlace(quorbel::u16view from, quorbel::u16view to) override;

private:
    WinFolderSource folders_;
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
