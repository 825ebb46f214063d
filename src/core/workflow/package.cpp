#include "core/workflow/package.h"

#include <zip.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <system_error>

#include "core/base/file_error.h"
#include "core/base/shift_jis.h"
#include "core/base/text_decoding.h"
#include "core/workflow/chart_inputs.h"

namespace zentrowe::workflow {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLongestFolderName = 64;

// The next code point of UTF-8 text known to be valid.
char32_t nextCodePoint(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t value = length == 1 ? char32_t{lead} : char32_t{lead} & (char32_t{0x7F} >> length);
    for (std::size_t k = 1; k < length && at + k < text.size(); ++k) {
        value = (value << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    }
    at += length;
    return value;
}

// Title bytes as the chart has them (Shift_JIS or UTF-8) made a safe ASCII folder name.
std::string asciiName(std::string_view bytes)
{
    std::string utf8;
    if (isValidUtf8({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()})) {
        utf8 = bytes;
    } else if (auto decoded = decodeShiftJis(bytes)) {
        utf8 = std::move(*decoded);
    }
    std::string name;
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t c = nextCodePoint(utf8, at);
        if (c >= 0xFF01 && c <= 0xFF5E) {
            c -= 0xFF01 - 0x21;  // full-width forms of ASCII
        } else if (c == 0x3000) {
            c = ' ';  // the ideographic space
        }
        if (c >= 0x80) {
            continue;
        }
        const auto ascii = static_cast<char>(c);
        const bool kept = (ascii >= 'A' && ascii <= 'Z') || (ascii >= 'a' && ascii <= 'z') ||
                          (ascii >= '0' && ascii <= '9') ||
                          std::string_view(" -_.()[]!&+,'").find(ascii) != std::string_view::npos;
        const char put = kept ? ascii : ' ';
        if (put != ' ' || (!name.empty() && name.back() != ' ')) {
            name += put;
        }
    }
    if (name.size() > kLongestFolderName) {
        name.resize(kLongestFolderName);
    }
    // No leading dot (a hidden folder) and nothing trailing that windows drop or that opens a
    // bracket the shared part of "Song [HYPER]" and "Song [ANOTHER]" leaves behind.
    while (!name.empty() && std::string_view(" .-_([").find(name.back()) != std::string_view::npos) {
        name.pop_back();
    }
    while (!name.empty() && (name.front() == '.' || name.front() == ' ')) {
        name.erase(name.begin());
    }
    return name;
}

std::string sharedPrefix(const std::vector<std::string>& names)
{
    std::string shared = names.front();
    for (const auto& name : names) {
        const auto end = std::mismatch(shared.begin(), shared.end(), name.begin(), name.end()).first;
        shared.erase(end, shared.end());
    }
    return asciiName(shared);
}

bool isStoredAsIs(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return extension == ".ogg" || extension == ".flac" || extension == ".mp3";
}

// A name in UTF-8 is flagged as such, so that unzip tools everywhere make the same name of it;
// any other bytes (a Shift_JIS name) are stored as they are, without the flag, for tools that
// take the system's code page.
zip_flags_t entryNameEncoding(std::string_view name)
{
    return isValidUtf8({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}) ? ZIP_FL_ENC_UTF_8
                                                                                          : ZIP_FL_ENC_RAW;
}

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

int cancelRequested(zip_t*, void* sink)
{
    return static_cast<ProgressSink*>(sink)->stopRequested() ? 1 : 0;
}

void reportProgress(zip_t*, double done, void* sink)
{
    static_cast<ProgressSink*>(sink)->advance(std::llround(done * 1000), 1000);
}

}  // namespace

std::string packageFolderName(const AuditReport& audit)
{
    std::vector<std::string> titles;
    for (const auto& title : audit.titles) {
        if (!asciiName(title).empty()) {
            titles.push_back(title);
        }
    }
    if (!titles.empty()) {
        if (auto shared = sharedPrefix(titles); !shared.empty()) {
            return shared;
        }
        return asciiName(titles.front());
    }
    auto folder = fs::absolute(audit.folder).lexically_normal();
    if (!folder.has_filename()) {
        folder = folder.parent_path();
    }
    const auto name = asciiName(folder.filename().string());
    return name.empty() ? "song" : name;
}

namespace {

using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

// The zip goes only where it replaces nothing it packs, and nothing else unless asked to.
Status checkPackageTarget(const AuditReport& audit, const PackageRequest& request)
{
    const auto& target = request.zipPath;
    if (audit.hasError()) {
        return Error{ErrorCode::AuditFailed,
                     displayPath(audit.folder) + ": the audit finds errors; nothing was packaged"}
            .inFile(displayPath(audit.folder));
    }
    std::error_code error;
    if (fs::is_directory(target, error)) {
        return fileError(ErrorCode::WriteFailed, target, "write", "it is a folder");
    }
    // Not even with `replace`: the zip must never take the place of what it packs.
    auto inputs = folderInputs(audit.folder);
    for (const auto& relative : audit.usedFiles) {
        inputs.push_back({audit.folder / relative, "\"" + relative.generic_string() + "\", a file the package holds"});
    }
    if (auto refused = refuseOverwritingInput(target, inputs, "nothing was packaged; write the zip elsewhere");
        !refused) {
        return refused.error();
    }
    if (fs::exists(fs::symlink_status(target, error)) && !request.replace) {
        return fileError(ErrorCode::WriteFailed, target, "write", "it already exists").about("exists");
    }
    return {};
}

// libzip writes the archive to a temporary file beside the target when it is closed and renames
// it into place only once whole; a failure or a cancel removes the temporary file. libzip takes
// file names as UTF-8: string(), which on Windows is not c_str()'s UTF-16.
Result<Archive> openArchive(const fs::path& target)
{
    int openError = 0;
    Archive archive(zip_open(target.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &openError));
    if (!archive) {
        zip_error_t reason;
        zip_error_init_with_code(&reason, openError);
        const std::string why = zip_error_strerror(&reason);
        zip_error_fini(&reason);
        return fileError(ErrorCode::WriteFailed, target, "write", why);
    }
    return archive;
}

// The charts and the files they use, each once, under the package's folder.
Status addPackageEntries(zip_t* archive, const AuditReport& audit, const fs::path& target, PackageOutcome& outcome)
{
    const auto failure = [&](const fs::path& at) {
        return fileError(ErrorCode::WriteFailed, at, "write", zip_strerror(archive));
    };
    if (zip_dir_add(archive, outcome.folderName.c_str(), ZIP_FL_ENC_GUESS) < 0) {
        return failure(target);
    }
    // "./a.wav" and "a.wav" are one file: one entry.
    std::set<fs::path> files;
    for (const auto& relative : audit.charts) {
        files.insert(relative.lexically_normal());
    }
    for (const auto& relative : audit.usedFiles) {
        files.insert(relative.lexically_normal());
    }
    for (const auto& relative : files) {
        const std::string entry = outcome.folderName + "/" + relative.generic_string();
        const fs::path source = audit.folder / relative;
        // A length of -1: to the end of the file, in every libzip version.
        zip_source_t* data = zip_source_file(archive, source.string().c_str(), 0, -1);
        if (data == nullptr) {
            return failure(source);
        }
        const zip_int64_t index = zip_file_add(archive, entry.c_str(), data, entryNameEncoding(entry));
        if (index < 0) {
            zip_source_free(data);
            return failure(target);
        }
        const zip_int32_t method = isStoredAsIs(relative) ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
        if (zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), method, 0) < 0) {
            return failure(target);
        }
        outcome.entries.push_back(entry);
    }
    return {};
}

}  // namespace

Result<PackageOutcome> writePackage(const AuditReport& audit, const PackageRequest& request, ProgressSink& progress)
{
    const auto& target = request.zipPath;
    if (auto allowed = checkPackageTarget(audit, request); !allowed) {
        return allowed.error();
    }
    PackageOutcome outcome;
    outcome.folderName = packageFolderName(audit);
    auto archive = openArchive(target);
    if (!archive) {
        return archive.error();
    }
    if (auto added = addPackageEntries(archive->get(), audit, target, outcome); !added) {
        return added.error();
    }
    zip_register_progress_callback_with_state(archive->get(), 0.001, reportProgress, nullptr, &progress);
    zip_register_cancel_callback_with_state(archive->get(), cancelRequested, nullptr, &progress);
    if (zip_close(archive->get()) != 0) {
        if (progress.stopRequested()) {
            return Error{ErrorCode::Cancelled, "packaging was stopped; " + displayPath(target) + " was not written"};
        }
        return fileError(ErrorCode::WriteFailed, target, "write", zip_strerror(archive->get()));
    }
    archive->release();  // zip_close freed it
    return outcome;
}

}  // namespace zentrowe::workflow
