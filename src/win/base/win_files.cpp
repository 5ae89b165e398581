#include "win/base/win_files.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "core/base/path_rules.h"
#include "win/base/wintext.h"

namespace {

// Last-write time as local calendar fields; false when it cannot be converted.
bool LocalFields(const FILETIME& utc, quorbel::LocalTimeFields& fields) {
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return false;
    fields = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute};
    return true;
}

// The space the entry takes on disk; false when its path is too long for
// a path buffer or the system cannot tell.
bool SizeOnDisk(quorbel::u16view folder, const wchar_t* name, uint64_t& size) {
    const auto path = quorbel::JoinEntryPath(folder, AsU16View(name));
    if (!path) return false;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetCompressedFileSizeW(AsWide(path->c_str()), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    size = (uint64_t(high) << 32) | low;
    return true;
}

}  // namespace

int WinFolderSource::DriveTypeOf(quorbel::u16view root) {
    return static_cast<int>(GetDriveTypeW(ToWide(root).c_str()));
}

namespace {

// One FindFirstFileW search, an entry at a time.
class WinFolderCursor : public quorbel::FolderCursor {
public:
    WinFolderCursor(quorbel::u16view folder, HANDLE find, const WIN32_FIND_DATAW& first)
        : folder_(folder), find_(find), data_(first) {}
    ~WinFolderCursor() override { FindClose(find_); }

    bool Next(quorbel::FolderEntry& entry) override {
        if (done_) return false;
        entry = quorbel::FolderEntry();
        entry.name = AsU16(data_.cFileName);
        entry.attributes = data_.dwFileAttributes;
        entry.lastWriteKnown = LocalFields(data_.ftLastWriteTime, entry.lastWrite);
        entry.lastWriteTime = FileTimeValue(data_.ftLastWriteTime);
        if (!(data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            entry.bytes = (uint64_t(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow;
        if (!quorbel::SizeTextIsEmpty(entry.attributes, entry.name)) {
            // Only a compressed or sparse file takes less room than its size,
            // and only its own call says how much: one call per such entry.
            if (data_.dwFileAttributes & (FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE)) {
                entry.sizeKnown = SizeOnDisk(folder_, data_.cFileName, entry.sizeOnDisk);
            } else {
                entry.sizeOnDisk = (uint64_t(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow;
                entry.sizeKnown = true;
            }
        }
        done_ = !FindNextFileW(find_, &data_);
        return true;
    }

private:
    quorbel::u16 folder_;
    HANDLE find_;
    WIN32_FIND_DATAW data_;
    bool done_ = false;
};

}  // namespace

std::unique_ptr<quorbel::FolderCursor> WinFolderSource::OpenFolder(quorbel::u16view folder) {
    // The folder with "\*" appended directly (two backslashes at a root).
    const auto pattern = quorbel::JoinPath(folder, u"*");
    if (!pattern) return nullptr;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(AsWide(pattern->c_str()), &data);
    if (find == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WinFolderCursor>(folder, find, data);
}

bool WinFolderSource::ListFolder(quorbel::u16view folder,
                                 const std::function<bool(const quorbel::FolderEntry&)>& visit) {
    std::unique_ptr<quorbel::FolderCursor> cursor = OpenFolder(folder);
    if (!cursor) return false;
    quorbel::FolderEntry entry;
    while (cursor->Next(entry) && visit(entry)) {
    }
    return true;
}

namespace {

// Every transfer file: not shared, read or written front to back.
HANDLE OpenTransferFile(quorbel::u16view path, DWORD access, DWORD disposition) {
    return CreateFileW(ToWide(path).c_str(), access, 0, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

class WinSourceFile : public quorbel::SourceFile {
public:
    explicit WinSourceFile(HANDLE file) : file_(file) {}
    ~WinSourceFile() override { CloseHandle(file_); }
    WinSourceFile(const WinSourceFile&) = delete;
    WinSourceFile& operator=(const WinSourceFile&) = delete;

    int64_t Read(char* buffer, std::size_t maxBytes) override {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(maxBytes, MAXDWORD));
        if (!ReadFile(file_, buffer, ask, &got, nullptr)) return -1;
        return static_cast<int64_t>(got);
    }
    bool Times(quorbel::FileTimes& times) override {
        FILETIME creation, access, write;
        if (!GetFileTime(file_, &creation, &access, &write)) return false;
        times = {FileTimeValue(creation), FileTimeValue(access), FileTimeValue(write)};
        return true;
    }

private:
    HANDLE file_;
};

class WinTargetFile : public quorbel::TargetFile {
public:
    explicit WinTargetFile(HANDLE file) : file_(file) {}
    ~WinTargetFile() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    WinTargetFile(const WinTargetFile&) = delete;
    WinTargetFile& operator=(const WinTargetFile&) = delete;

    bool Write(const char* data, std::size_t length) override {
        DWORD written = 0;
        return file_ != INVALID_HANDLE_VALUE &&
               WriteFile(file_, data, static_cast<DWORD>(length), &written, nullptr) && written == length;
    }
    bool Finish(const quorbel::FileTimes& times) override {
        if (file_ == INVALID_HANDLE_VALUE) return false;
        const FILETIME creation = ToFileTime(times.creation), access = ToFileTime(times.lastAccess),
                       write = ToFileTime(times.lastWrite);
        const bool set = SetFileTime(file_, &creation, &access, &write) != FALSE;
        // A close that fails may have lost what was written.
        const bool closed = CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE)) != FALSE;
        return set && closed;
    }

private:
    HANDLE file_;
};

}  // namespace

bool WinFileStore::CreateFolder(quorbel::u16view path) {
    return CreateDirectoryW(ToWide(path).c_str(), nullptr) != FALSE;
}

bool WinFileStore::FileExists(quorbel::u16view path) {
    return GetFileAttributesW(ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WinFileStore::FolderExists(quorbel::u16view path) {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::unique_ptr<quorbel::SourceFile> WinFileStore::OpenForRead(quorbel::u16view path, uint64_t& size) {
    // OPEN_EXISTING: a source that vanished is refused, not created empty.
    HANDLE file = OpenTransferFile(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    auto source = std::make_unique<WinSourceFile>(file);
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file, &length)) return nullptr;
    size = static_cast<uint64_t>(length.QuadPart);
    return source;
}

std::unique_ptr<quorbel::TargetFile> WinFileStore::CreateNew(quorbel::u16view path) {
    HANDLE file = OpenTransferFile(path, GENERIC_WRITE, CREATE_NEW);
    return file == INVALID_HANDLE_VALUE ? nullptr : std::make_unique<WinTargetFile>(file);
}

std::unique_ptr<quorbel::TargetFile> WinFileStore::OpenForAppend(quorbel::u16view path, uint64_t& size) {
    // OPEN_EXISTING: only a partial file that is there goes on; its end is
    // where the next block is written.
    HANDLE file = OpenTransferFile(path, GENERIC_WRITE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    auto target = std::make_unique<WinTargetFile>(file);
    LARGE_INTEGER zero = {}, end = {};
    if (!SetFilePointerEx(file, zero, &end, FILE_END)) return nullptr;
    size = static_cast<uint64_t>(end.QuadPart);
    return target;
}

bool WinFileStore::RemoveFile(quorbel::u16view path) { return DeleteFileW(ToWide(path).c_str()) != FALSE; }

bool WinFileStore::MoveIntoPlace(quorbel::u16view from, quorbel::u16view to) {
    return MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

WinIniSection::WinIniSection(std::wstring file, std::wstring section)
    : file_(std::move(file)), section_(std::move(section)) {}

int32_t WinIniSection::ReadInt(quorbel::u16view key, int32_t fallback) {
    return static_cast<int32_t>(GetPrivateProfileIntW(section_.c_str(), ToWide(key).c_str(), fallback, file_.c_str()));
}

quorbel::u16 WinIniSection::ReadText(quorbel::u16view key, quorbel::u16view fallback, std::size_t maxChars) {
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    const DWORD n = GetPrivateProfileStringW(section_.c_str(), ToWide(key).c_str(), ToWide(fallback).c_str(),
                                             buffer.data(), static_cast<DWORD>(buffer.size()), file_.c_str());
    return quorbel::u16(AsU16(buffer.data()), n < buffer.size() ? n : maxChars);
}

void WinIniSection::WriteText(quorbel::u16view key, quorbel::u16view value) {
    WritePrivateProfileStringW(section_.c_str(), ToWide(key).c_str(), ToWide(value).c_str(), file_.c_str());
}
