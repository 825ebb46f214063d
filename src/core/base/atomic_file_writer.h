#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "core/base/file_error.h"
#include "core/base/file_system.h"
#include "core/base/result.h"

namespace zentrowe {

// What the temporary file's name adds to the target's: "." before it, ".%08x.tmp" after. Where
// that would pass kLongestName the target's part is cut short, so any target name the disk
// takes has a temporary file the disk takes too.
inline constexpr std::size_t kTemporaryNameExtraBytes = 1 + 13;
inline constexpr std::size_t kLongestName = 255;  // bytes of one name, as Linux file systems allow

// Writes a file so that readers never see it half-written: the bytes go to a temporary file
// beside the target, which is renamed over the target once complete. On any failure the
// temporary file is removed, an earlier file of the target's name is left as it was, and the
// result is WriteFailed naming the target. Cancel (or destruction without commit) removes the
// temporary file. The temporary file is put in place, and removed, through `files` (a test's
// stand-in can fail a rename there); its bytes are written directly.
class AtomicFileWriter {
public:
    AtomicFileWriter(std::filesystem::path target, FileSystem& files);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Opens the temporary file. Must succeed before write().
    Status open();
    Status write(std::span<const std::uint8_t> bytes);
    Status write(std::string_view text);
    // Appends up to `length` bytes of another open file, read from `offset`, copied inside the
    // kernel where the file systems allow it. Returns how many bytes the source had there
    // (fewer if it ends first); CannotOpen naming `sourcePath` if the source cannot be read.
    Result<std::uint64_t> copyFrom(int sourceFd, const std::filesystem::path& sourcePath, std::uint64_t offset,
                                   std::uint64_t length);
    // Flushes, closes and renames into place.
    Status commit();
    void cancel();

    const std::filesystem::path& target() const { return m_target; }

private:
    friend Status commitTogether(AtomicFileWriter& first, AtomicFileWriter& second);

    Error failure(int errnoValue) const;
    Status close();
    // Puts the finished file in place. With `keepPrevious`, a file it replaced stays under the
    // temporary name until dropPrevious() or restorePrevious().
    Status swapIn(bool keepPrevious);
    Status swapInBesidePrevious();
    void dropPrevious();
    void restorePrevious();

    std::filesystem::path m_target;
    FileSystem* m_files;
    std::filesystem::path m_temporary;
    int m_fd = -1;
    bool m_hadPrevious = false;  // after swapIn(true): the target existed and sits at m_temporary
};

// Writes `bytes` to `target` through one AtomicFileWriter on `files`: the target holds them all,
// or what it held before.
Status writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes, FileSystem& files);

// Commits two finished writers as one: afterwards both targets hold the new files, or (on
// WriteFailed naming the target that failed) both hold what they held before, a target that did
// not exist is gone again, and no temporary file remains. For outputs that only make sense as a
// pair, such as a chart and the keysound file its cuts are timed by.
Status commitTogether(AtomicFileWriter& first, AtomicFileWriter& second);

}  // namespace zentrowe
