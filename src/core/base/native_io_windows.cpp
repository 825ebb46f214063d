// The POSIX file calls of native_io.h over Windows' wide-character API (built on Windows only).
#include "core/base/native_io.h"

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

namespace {

int failWith(int errnoValue)
{
    errno = errnoValue;
    return -1;
}

// errno for the last Win32 error, as the CRT words the common ones.
int lastErrno()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    default:
        return EIO;
    }
}

// The full path of `path`, separated by backslashes, with no "." or ".." left.
std::wstring fullPathOf(const wchar_t* path)
{
    const DWORD length = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (length == 0) {
        return {};
    }
    std::wstring full(length, L'\0');
    full.resize(GetFullPathNameW(path, length, full.data(), nullptr));
    return full;
}

bool startsWith(const std::wstring& text, const wchar_t* start)
{
    return text.rfind(start, 0) == 0;
}

// Paths up to this long are taken by every wide call as they are (CreateDirectoryW's limit:
// MAX_PATH less room for an 8.3 file name).
constexpr std::size_t kShortPathLimit = MAX_PATH - 12;

// `path` as the wide calls take it at any length: past the limit, the full path behind the
// prefix \\?\ (which lifts MAX_PATH even where the system's long-path setting is off).
std::wstring widePathOf(const wchar_t* path)
{
    std::wstring given(path);
    if (startsWith(given, L"\\\\?\\")) {
        return given;
    }
    const bool absolute = given.size() >= 3 && given[1] == L':' && (given[2] == L'\\' || given[2] == L'/');
    if (absolute && given.size() < kShortPathLimit) {
        return given;
    }
    std::wstring full = fullPathOf(path);
    if (full.empty() || full.size() < kShortPathLimit) {
        return given;
    }
    if (startsWith(full, L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

// The target of a rename as the kernel takes it: a full path in its own namespace (\??\).
std::wstring kernelPathOf(const wchar_t* path)
{
    const std::wstring full = fullPathOf(path);
    if (full.empty()) {
        return {};
    }
    if (startsWith(full, L"\\\\?\\")) {
        return L"\\??\\" + full.substr(4);
    }
    if (startsWith(full, L"\\\\")) {
        return L"\\??\\UNC\\" + full.substr(2);
    }
    return L"\\??\\" + full;
}

HANDLE handleOf(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Every open shares reading, writing and deleting, as a POSIX descriptor does not stop a rename
// or a removal of its file: the staging folder's moves must not fail on a file still open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

DWORD creationOf(int flags)
{
    if ((flags & O_CREAT) != 0) {
        if ((flags & O_EXCL) != 0) {
            return CREATE_NEW;
        }
        return (flags & O_TRUNC) != 0 ? CREATE_ALWAYS : OPEN_ALWAYS;
    }
    return (flags & O_TRUNC) != 0 ? TRUNCATE_EXISTING : OPEN_EXISTING;
}

int statOfHandle(HANDLE handle, struct stat* info)
{
    BY_HANDLE_FILE_INFORMATION about{};
    if (!GetFileInformationByHandle(handle, &about)) {
        return failWith(lastErrno());
    }
    const bool folder = (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (about.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    info->st_mode = link ? 0 : folder ? S_IFDIR : S_IFREG;
    info->st_size = static_cast<std::int64_t>((std::uint64_t{about.nFileSizeHigh} << 32) | about.nFileSizeLow);
    info->st_dev = about.dwVolumeSerialNumber;
    info->st_ino = (std::uint64_t{about.nFileIndexHigh} << 32) | about.nFileIndexLow;
    return 0;
}

int statOfPath(const wchar_t* path, struct stat* info, DWORD extraFlags)
{
    HANDLE handle = CreateFileW(widePathOf(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | extraFlags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return failWith(lastErrno());
    }
    const int result = statOfHandle(handle, info);
    CloseHandle(handle);
    return result;
}

}  // namespace

int open(const wchar_t* path, int flags, int mode)
{
    (void)mode;
    const bool folder = (flags & O_DIRECTORY) != 0;
    const int access = flags & (O_RDONLY | O_WRONLY | O_RDWR);
    DWORD wanted = access == O_WRONLY ? GENERIC_WRITE : access == O_RDWR ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    if (folder) {
        wanted = FILE_READ_ATTRIBUTES;
    }
    HANDLE handle =
        CreateFileW(widePathOf(path).c_str(), wanted, kShareAll, nullptr, folder ? OPEN_EXISTING : creationOf(flags),
                    folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return failWith(lastErrno());
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), (access == O_RDONLY ? O_RDONLY : 0) | O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return failWith(EMFILE);
    }
    return fd;
}

ssize_t read(int fd, void* into, std::size_t size)
{
    return _read(fd, into, static_cast<unsigned>(size > 0x40000000u ? 0x40000000u : size));
}

ssize_t write(int fd, const void* from, std::size_t size)
{
    return _write(fd, from, static_cast<unsigned>(size > 0x40000000u ? 0x40000000u : size));
}

int stat(const wchar_t* path, struct stat* info)
{
    return statOfPath(path, info, 0);
}

int lstat(const wchar_t* path, struct stat* info)
{
    return statOfPath(path, info, FILE_FLAG_OPEN_REPARSE_POINT);
}

int fstat(int fd, struct stat* info)
{
    return statOfHandle(handleOf(fd), info);
}

int mkdir(const wchar_t* path, int mode)
{
    (void)mode;
    return CreateDirectoryW(widePathOf(path).c_str(), nullptr) ? 0 : failWith(lastErrno());
}

namespace {

// A rename with POSIX semantics (NTFS, Windows 10 1809 and later): the target is replaced even
// while some process has it open, as rename(2) replaces it. False, with the last error set,
// where the file system lacks them.
bool renamePosixWay(const wchar_t* from, const wchar_t* to)
{
    const std::wstring target = kernelPathOf(to);
    if (target.empty()) {
        return false;
    }
    HANDLE handle = CreateFileW(widePathOf(from).c_str(), DELETE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD nameBytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    // The Windows 10 names, which MinGW's headers give only to programs built for Windows 10:
    // the information class, and its flags in the first four bytes (over ReplaceIfExists).
    constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
    constexpr DWORD kReplaceIfExists = 0x1;
    constexpr DWORD kPosixSemantics = 0x2;
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    const DWORD flags = kReplaceIfExists | kPosixSemantics;
    std::memcpy(buffer.data(), &flags, sizeof flags);
    info->RootDirectory = nullptr;
    info->FileNameLength = nameBytes;
    std::memcpy(info->FileName, target.data(), nameBytes);
    const bool renamed =
        SetFileInformationByHandle(handle, kRenameInfoEx, info, static_cast<DWORD>(buffer.size())) != 0;
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(renamed ? 0 : error);
    return renamed;
}

}  // namespace

int rename(const wchar_t* from, const wchar_t* to)
{
    // One step over the name, as rename(2). MoveFileExW refuses a target that is open, even when
    // shared for deletion, so it is only the way where POSIX semantics are lacking.
    if (renamePosixWay(from, to)) {
        return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION &&
        error != ERROR_CALL_NOT_IMPLEMENTED && error != ERROR_ACCESS_DENIED) {
        return failWith(lastErrno());
    }
    return MoveFileExW(widePathOf(from).c_str(), widePathOf(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : failWith(lastErrno());
}

int renameat2(int, const wchar_t*, int, const wchar_t*, unsigned)
{
    // NTFS cannot swap two names in one step; callers then move one aside first.
    return failWith(ENOSYS);
}

int rmdir(const wchar_t* path)
{
    return RemoveDirectoryW(widePathOf(path).c_str()) ? 0 : failWith(lastErrno());
}

int unlink(const wchar_t* path)
{
    const std::wstring wide = widePathOf(path);
    if (DeleteFileW(wide.c_str())) {
        return 0;
    }
    const int reason = lastErrno();
    // A link to a folder is a folder to DeleteFileW; like unlink(2), this removes the link.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    constexpr DWORD kFolderLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kFolderLink) == kFolderLink) {
        return RemoveDirectoryW(wide.c_str()) ? 0 : failWith(lastErrno());
    }
    return failWith(reason);
}

int fsync(int fd)
{
    HANDLE handle = handleOf(fd);
    BY_HANDLE_FILE_INFORMATION about{};
    if (GetFileInformationByHandle(handle, &about) && (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return 0;  // NTFS journals a folder's entries itself; a folder handle cannot be flushed
    }
    if (FlushFileBuffers(handle)) {
        return 0;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) {
        return failWith(lastErrno());
    }
    // Flushing needs write access, which a file opened to be read (as fsync(2) allows) lacks.
    HANDLE writable = ReOpenFile(handle, GENERIC_WRITE, kShareAll, 0);
    if (writable == INVALID_HANDLE_VALUE) {
        return failWith(lastErrno());
    }
    const bool flushed = FlushFileBuffers(writable) != 0;
    const int reason = flushed ? 0 : lastErrno();
    CloseHandle(writable);
    return flushed ? 0 : failWith(reason);
}

namespace {

// The folder locks this process holds, by descriptor: Windows cannot lock a folder, so a lock is
// a named kernel object whose name is the folder's identity. It exists while a handle to it is
// open, so a killed holder's lock goes with its process, as flock's does.
struct LockEntry {
    int fd;
    HANDLE event;
};

constexpr int kMostLocks = 64;
SRWLOCK g_lockGuard = SRWLOCK_INIT;
LockEntry g_locks[kMostLocks] = {};
int g_lockCount = 0;

int releaseLock(int fd)
{
    AcquireSRWLockExclusive(&g_lockGuard);
    for (int i = 0; i < g_lockCount; ++i) {
        if (g_locks[i].fd == fd) {
            CloseHandle(g_locks[i].event);
            g_locks[i] = g_locks[--g_lockCount];
            break;
        }
    }
    ReleaseSRWLockExclusive(&g_lockGuard);
    return 0;
}

}  // namespace

int flock(int fd, int operation)
{
    if ((operation & LOCK_UN) != 0) {
        return releaseLock(fd);
    }
    struct stat info { };
    if (fstat(fd, &info) != 0) {
        return -1;
    }
    const std::wstring name =
        L"Local\\zentrowe-folder-lock-" + std::to_wstring(info.st_dev) + L"-" + std::to_wstring(info.st_ino);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    if (event == nullptr) {
        return failWith(lastErrno());
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(event);
        return failWith(EWOULDBLOCK);
    }
    AcquireSRWLockExclusive(&g_lockGuard);
    const bool room = g_lockCount < kMostLocks;
    if (room) {
        g_locks[g_lockCount++] = {fd, event};
    }
    ReleaseSRWLockExclusive(&g_lockGuard);
    if (!room) {
        CloseHandle(event);
        return failWith(ENOLCK);
    }
    return 0;
}

int fcntl(int, int, ...)
{
    return 0;  // O_NONBLOCK, the only flag set or cleared, means nothing to a Windows file
}

ssize_t pread(int fd, void* into, std::size_t size, off_t offset)
{
    // A read at an offset moves a Windows file's position, which pread must leave where it was.
    HANDLE handle = handleOf(fd);
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(handle, LARGE_INTEGER{}, &position, FILE_CURRENT)) {
        return failWith(lastErrno());
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    const bool read = ReadFile(handle, into, want, &got, &at) != 0;
    const DWORD error = GetLastError();
    SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
    if (!read) {
        SetLastError(error);
        return error == ERROR_HANDLE_EOF ? 0 : failWith(lastErrno());
    }
    return static_cast<ssize_t>(got);
}

ssize_t copy_file_range(int, off_t*, int, off_t*, std::size_t, unsigned)
{
    return failWith(ENOSYS);  // callers copy through memory instead
}

int posix_fadvise(int, off_t, off_t, int)
{
    return 0;
}

void* mmap(void*, std::size_t size, int protection, int, int fd, off_t)
{
    if (fd < 0) {
        void* memory = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        return memory != nullptr ? memory : MAP_FAILED;
    }
    (void)protection;  // files are only ever mapped to be read
    HANDLE mapping = CreateFileMappingW(handleOf(fd), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        errno = lastErrno();
        return MAP_FAILED;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    CloseHandle(mapping);  // the view keeps the mapping alive
    if (view == nullptr) {
        errno = lastErrno();
        return MAP_FAILED;
    }
    return view;
}

int munmap(void* address, std::size_t)
{
    if (UnmapViewOfFile(address)) {
        return 0;
    }
    return VirtualFree(address, 0, MEM_RELEASE) ? 0 : failWith(EINVAL);
}

int madvise(void*, std::size_t, int)
{
    return 0;
}

// A folder being read: the search FindFirstFileExW began, and the name it found first, which
// readdir gives before asking for the next.
struct DIR {
    HANDLE search = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW found{};
    bool pending = false;
    dirent entry{};
};

DIR* opendir(const wchar_t* path)
{
    std::wstring pattern(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
        pattern += L'\\';
    }
    pattern += L'*';
    auto* folder = new DIR;
    folder->search = FindFirstFileExW(widePathOf(pattern.c_str()).c_str(), FindExInfoBasic, &folder->found,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    folder->pending = folder->search != INVALID_HANDLE_VALUE;
    // A drive's root has no "." or "..": an empty one finds nothing, which is no error.
    if (!folder->pending && GetLastError() != ERROR_FILE_NOT_FOUND) {
        const int reason = lastErrno();
        delete folder;
        errno = reason;
        return nullptr;
    }
    return folder;
}

dirent* readdir(DIR* folder)
{
    if (!folder->pending) {
        if (folder->search == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        if (!FindNextFileW(folder->search, &folder->found)) {
            if (GetLastError() != ERROR_NO_MORE_FILES) {
                errno = lastErrno();  // the end leaves errno as it was, as on POSIX
            }
            return nullptr;
        }
    }
    folder->pending = false;
    const int size = WideCharToMultiByte(CP_UTF8, 0, folder->found.cFileName, -1, folder->entry.d_name,
                                         static_cast<int>(sizeof folder->entry.d_name), nullptr, nullptr);
    if (size == 0) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return &folder->entry;
}

int closedir(DIR* folder)
{
    if (folder->search != INVALID_HANDLE_VALUE) {
        FindClose(folder->search);
    }
    delete folder;
    return 0;
}
