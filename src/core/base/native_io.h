#pragma once

// The operating system's file calls the engine makes: POSIX's own on Linux; on Windows the same
// names over the wide-character (UTF-16) calls, so that a file system path's c_str() goes to
// the system as it is and a file named in any script opens. The Windows side keeps NTFS rules:
// a rename replaces with MoveFileExW, an open file may be renamed or removed, a file's identity
// is its volume serial and file index, a folder lock lives as long as its holder's process.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef _WIN32

#include <dirent.h>
#include <sys/file.h>
#include <sys/mman.h>

#else

#include <cstddef>
#include <cstdint>

// Flags MSVCRT lacks. O_DIRECTORY is a bit of ours that open() takes to open a folder.
#define O_CLOEXEC 0x0080  // _O_NOINHERIT
#define O_NOFOLLOW 0
#define O_NONBLOCK 0
#define O_DIRECTORY 0x200000
#define F_GETFL 3
#define F_SETFL 4
#define AT_FDCWD (-100)
#define RENAME_EXCHANGE 2u
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8
#define POSIX_FADV_SEQUENTIAL 2
#define PROT_READ 1
#define PROT_WRITE 2
#define MAP_PRIVATE 2
#define MAP_ANONYMOUS 0x20
#define MAP_NORESERVE 0
#define MAP_FAILED (reinterpret_cast<void*>(-1))
#define MADV_SEQUENTIAL 2
#define MADV_HUGEPAGE 14

#undef stat
#undef fstat
#define stat zentrowe_native_stat
#define fstat zentrowe_native_fstat
// MinGW's own DIR reads names through the C library's narrow calls, which stop at MAX_PATH.
#define DIR zentrowe_native_dir
#define dirent zentrowe_native_dirent
#define opendir zentrowe_native_opendir
#define readdir zentrowe_native_readdir
#define closedir zentrowe_native_closedir

// What the engine reads of a file's status; st_dev and st_ino identify the file on its volume.
struct zentrowe_native_stat {
    unsigned st_mode;
    std::int64_t st_size;
    std::uint64_t st_dev;
    std::uint64_t st_ino;
};

int open(const wchar_t* path, int flags, int mode = 0);
// Named as POSIX names them, the struct and the call alike.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
int stat(const wchar_t* path, struct stat* info);
#pragma GCC diagnostic pop
int lstat(const wchar_t* path, struct stat* info);
int fstat(int fd, struct stat* info);
// The C library's read and write take an unsigned int count; these take a size_t, as POSIX's do,
// and move at most 1 GiB a call (callers loop until all is moved).
ssize_t read(int fd, void* into, std::size_t size);
ssize_t write(int fd, const void* from, std::size_t size);
int mkdir(const wchar_t* path, int mode);
int rmdir(const wchar_t* path);
int rename(const wchar_t* from, const wchar_t* to);
int renameat2(int fromFolder, const wchar_t* from, int toFolder, const wchar_t* to, unsigned flags);
// Removes a file, or a link (a symbolic link or a junction) to a folder, never what it names.
int unlink(const wchar_t* path);
int fsync(int fd);
int flock(int fd, int operation);
int fcntl(int fd, int command, ...);
ssize_t pread(int fd, void* into, std::size_t size, off_t offset);
ssize_t copy_file_range(int fromFd, off_t* fromOffset, int toFd, off_t* toOffset, std::size_t size, unsigned flags);
int posix_fadvise(int fd, off_t offset, off_t length, int advice);
void* mmap(void* address, std::size_t size, int protection, int flags, int fd, off_t offset);
int munmap(void* address, std::size_t size);
int madvise(void* address, std::size_t size, int advice);

// One name of a folder, as UTF-8 text (a Windows name is at most 255 UTF-16 units).
struct dirent {
    char d_name[768];
};
struct DIR;
DIR* opendir(const wchar_t* path);
// The next name, "." and ".." among them as on POSIX; null at the end.
dirent* readdir(DIR* folder);
int closedir(DIR* folder);

#endif
