#include "core/workflow/audit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <system_error>
#include <tuple>

#include "core/audio/keysound_finder.h"
#include "core/audio/sound_file_reader.h"
#include "core/base/file_error.h"
#include "core/base/file_reading.h"
#include "core/base/job_runner.h"
#include "core/base/number_text.h"
#include "core/base/shift_jis.h"
#include "core/base/staging_folder.h"
#include "core/base/text_decoding.h"
#include "core/chart/bms_reader.h"
#include "core/chart/bmson_reader.h"
#include "core/chart/chart_file.h"
#include "core/chart/named_files.h"
#include "core/chart/timed_chart.h"
#include "core/workflow/audit_chart_checks.h"
#include "core/workflow/audited_sounds.h"
#include "core/workflow/build_manifest.h"

namespace zentrowe::workflow {

namespace {

namespace fs = std::filesystem;
using chart::ChartObject;
using chart::ObjectKind;

constexpr double kLongSoundSeconds = 60;   // release checkers flag sounds this long or longer
constexpr double kLongEndingSeconds = 30;  // sound past the last note that players make you sit through
constexpr std::uintmax_t kLargestSoundBytes = 40u * 1024 * 1024;  // what events take as one entry's sounds
constexpr int kMeasuringRate = 44100;        // the rate most keysounds have: decoded without resampling
constexpr float kSilentPeak = 1.0f / 32768;  // below the smallest step of 16-bit sound
constexpr std::uintmax_t kKeptFactsMostBytes = 64u * 1024 * 1024;  // larger sounds are decoded every audit

bool isChartName(const fs::path& path)
{
    static const std::set<std::string> extensions{".bms", ".bme", ".bml", ".pms", ".bmson"};
    return extensions.count(lowerAscii(path.extension().string())) > 0;
}

bool isSoundName(const fs::path& path)
{
    static const std::set<std::string> extensions{".wav", ".ogg", ".flac", ".mp3"};
    return extensions.count(lowerAscii(path.extension().string())) > 0;
}

// Players show "preview*.ogg" (or .wav, ...) beside the charts while choosing, found by name.
bool isPreviewByName(const fs::path& relative)
{
    return !relative.has_parent_path() && lowerAscii(relative.filename().string()).starts_with("preview") &&
           isSoundName(relative);
}

// Files this program keeps beside its charts for itself: the keysound MIDI file and the build's
// record. `package` leaves them out.
bool isBookkeeping(const fs::path& relative)
{
    const std::string name = relative.string();
    return name == "K-Midi.mid" || name == kBuildManifestFileName;
}

// A name as a chart writes it ("sub\kick.wav", "./kick.wav") as a path relative to the folder.
fs::path namedPath(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return fs::path(name).lexically_normal();
}

std::string secondsText(double seconds)
{
    return fixedText(seconds, 1) + " s";
}

std::string percentText(std::int64_t part, std::int64_t whole)
{
    return fixedText(whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0, 1) + "%";
}

// A reader's sentence without the file name it starts with: the finding names the file.
std::string withoutFileName(std::string message, const fs::path& path)
{
    for (const auto& name : {displayPath(path), displayPath(path.filename())}) {
        if (message.starts_with(name + ": ")) {
            return message.substr(name.size() + 2);
        }
    }
    return message;
}

// The names of the files a chart's text names besides its keysounds as read: every branch's
// keysounds, the pictures, movies and the rest.
std::vector<chart::FileReference> otherFileNames(std::span<const std::uint8_t> bytes, bool bmson)
{
    return bmson ? chart::bmsonFileReferences(bytes) : chart::bmsFileReferences(bytes);
}

// A file a chart names, and where it was found.
struct NamedFile {
    std::string name;               // as the chart spells it
    std::optional<fs::path> found;  // relative to the folder
    bool keysound = false;
    bool placed = true;  // a keysound whose code some object uses
};

struct ChartFacts {
    fs::path relative;
    bool bmson = false;
    chart::TimedChart timed;
    std::vector<NamedFile> files;
    std::set<std::string> keysoundNames;  // #WAV names, ASCII lower case, for comparing charts
};

class Auditor {
public:
    Auditor(fs::path folder, ProgressSink& progress, FileCache* kept)
        : m_folder(std::move(folder)), m_progress(progress), m_finder(m_folder), m_kept(kept)
    {
    }

    Result<AuditReport> run(std::vector<fs::path> charts, bool wholeFolder)
    {
        m_report.folder = m_folder;
        if (charts.empty()) {
            add(AuditSeverity::Error, AuditCheck::NoChart, fs::path(), "no BMS or bmson chart in the folder");
        }
        for (const auto& relative : charts) {
            readChart(relative);
        }
        if (const auto decoded = decodeSounds(); !decoded) {
            return decoded.error();
        }
        for (const auto& facts : m_charts) {
            checkSoundsOfChart(facts);
        }
        checkFolder(charts, wholeFolder);
        std::stable_sort(m_report.findings.begin(), m_report.findings.end(),
                         [](const AuditFinding& a, const AuditFinding& b) { return a.severity < b.severity; });
        m_report.charts = std::move(charts);
        m_report.usedFiles.assign(m_used.begin(), m_used.end());
        return std::move(m_report);
    }

private:
    void add(AuditSeverity severity, AuditCheck check, fs::path file, std::string message)
    {
        m_report.findings.push_back({severity, check, std::move(file), std::move(message)});
    }

    void readChart(const fs::path& relative)
    {
        const fs::path& file = relative;
        const auto bytes = readFileBytes(m_folder / relative);
        if (!bytes) {
            add(AuditSeverity::Error, AuditCheck::UnreadableChart, file,
                withoutFileName(bytes.error().message, m_folder / relative));
            return;
        }
        ChartFacts facts;
        facts.relative = relative;
        facts.bmson = chart::isBmsonPath(relative);
        const auto otherFiles = otherFileNames(bytes->bytes(), facts.bmson);
        std::optional<chart::ChartReading> reading;
        ChartFindings findings(m_report.findings, file);
        if (facts.bmson) {
            auto read = chart::readBmson(bytes->bytes(), displayPath(relative));
            if (!read) {
                add(AuditSeverity::Error, AuditCheck::UnreadableChart, file,
                    withoutFileName(read.error().message, relative));
                return;
            }
            reading = std::move(read).value();
            checkBmsonInfo(bytes->bytes(), findings);
        } else {
            checkEncoding(bytes->bytes(), findings);
            reading = chart::readBms(bytes->bytes());
        }
        for (const auto& problem : reading->problems) {
            add(AuditSeverity::Warning, AuditCheck::ChartLine, file,
                (problem.line > 0 ? "line " + std::to_string(problem.line) + ": " : std::string()) + problem.message);
        }
        const chart::ChartHeader header = reading->chart.header;
        checkHeader(header, facts.bmson, findings);
        m_report.titles.push_back(header.title);
        checkCodes(reading->chart, findings);
        checkLanePositions(reading->chart, facts.bmson, findings);
        findFiles(reading->chart, otherFiles, facts, file);
        facts.timed = chart::timeChart(std::move(*reading));
        checkNotes(facts, file);
        if (!facts.bmson) {
            checkTotalAndPlayer(header, facts.timed, findings);
        } else {
            addSideFinding(bmsonModeFinding(bytes->bytes(), sidesUsed(facts.timed)), findings);
        }
        m_charts.push_back(std::move(facts));
    }

    void checkNotes(const ChartFacts& facts, const fs::path& file)
    {
        const auto& objects = facts.timed.objects;
        std::map<int, const ChartObject*> open;  // the long note each lane holds
        std::int64_t inside = 0;
        const ChartObject* firstInside = nullptr;
        for (const auto& object : objects) {
            const auto held = open.find(object.lane);
            if (object.kind == ObjectKind::LongNoteEnd) {
                if (held != open.end()) {
                    open.erase(held);
                }
            } else if (object.kind != ObjectKind::Background && held != open.end() &&
                       object.seconds > held->second->seconds) {
                ++inside;
                firstInside = firstInside != nullptr ? firstInside : &object;
            }
            if (object.kind == ObjectKind::LongNoteStart) {
                open[object.lane] = &object;
            }
        }
        for (const auto& [lane, start] : open) {
            add(AuditSeverity::Error, AuditCheck::UnendedLongNote, file,
                "the long note in lane " + std::to_string(lane) + " at " + secondsText(start->seconds) +
                    (start->line > 0 ? " (line " + std::to_string(start->line) + ")" : "") + " never ends");
        }
        if (firstInside != nullptr) {
            add(AuditSeverity::Error, AuditCheck::NoteInLongNote, file,
                countText(inside, "note lies", "notes lie") + " inside a long note of its lane (first: lane " +
                    std::to_string(firstInside->lane) + " at " + secondsText(firstInside->seconds) + ")");
        }
        // One sound started twice at one moment plays twice as loud, or phases.
        std::int64_t twice = 0;
        const ChartObject* firstTwice = nullptr;
        for (std::size_t begin = 0; begin < objects.size();) {
            std::size_t end = begin;
            std::set<chart::ChartCode> codes;
            for (; end < objects.size() && objects[end].seconds == objects[begin].seconds; ++end) {
                const auto& object = objects[end];
                if (object.kind != ObjectKind::LongNoteEnd && !codes.insert(object.code).second) {
                    ++twice;
                    firstTwice = firstTwice != nullptr ? firstTwice : &object;
                }
            }
            begin = end;
        }
        if (firstTwice != nullptr) {
            const auto code = firstTwice->code;
            const auto& names = facts.timed.keysoundNames;
            add(AuditSeverity::Warning, AuditCheck::SoundPlacedTwice, file,
                countText(twice, "sound starts", "sounds start") + " again at the moment it already starts (first: " +
                    (code < names.size() && !names[code].empty() ? names[code] : "code " + std::to_string(code)) +
                    " at " + secondsText(firstTwice->seconds) + "); it plays louder than meant");
        }
    }

    void findFiles(const chart::Chart& chart, const std::vector<chart::FileReference>& otherFiles, ChartFacts& facts,
                   const fs::path& file)
    {
        std::set<chart::ChartCode> placed;
        for (const auto& line : chart.lines) {
            for (std::uint32_t k = 0; k < line.objectCount; ++k) {
                placed.insert(chart.objects[line.firstObject + k].code);
            }
        }
        const auto look = [&](const std::string& name, bool keysound, bool isPlaced) {
            NamedFile named{name, std::nullopt, keysound, isPlaced};
            auto found = m_finder.find(name);
            if (!found) {
                add(AuditSeverity::Error, AuditCheck::MissingFile, file, "\"" + name + "\" " + found.error().message);
                m_refused.insert(namedPath(name));
            } else if (*found) {
                // "./sub//b.wav" and "sub\b.wav" are one file, packaged once.
                named.found = found->value().lexically_relative(m_folder).lexically_normal();
                m_used.insert(*named.found);
            } else {
                const bool serious = keysound && isPlaced;
                add(serious ? AuditSeverity::Error : AuditSeverity::Warning, AuditCheck::MissingFile, file,
                    "\"" + name + "\" is missing from the folder" +
                        (keysound ? (isPlaced ? "; its notes play no sound" : " (its code is never placed)") : ""));
            }
            if (!isAscii(name)) {
                add(AuditSeverity::Warning, AuditCheck::NonAsciiFileName, file,
                    "names the file \"" + name + "\" in non-ASCII characters, which other systems read differently");
            }
            facts.files.push_back(std::move(named));
        };
        std::set<std::string> looked;
        for (const auto& keysound : chart.keysounds) {
            facts.keysoundNames.insert(lowerAscii(keysound.fileName));
            if (looked.insert(keysound.fileName).second) {
                look(keysound.fileName, true, placed.count(keysound.code) > 0);
            }
        }
        // The preview sounds, but only while choosing: a missing one warns, as a missing image does.
        if (!chart.header.previewFile.empty() && looked.insert(chart.header.previewFile).second) {
            look(chart.header.previewFile, false, true);
        }
        // Keysounds of a branch the reader did not take play when a player takes it.
        for (const auto& other : otherFiles) {
            if (looked.insert(other.name).second) {
                look(other.name, other.role == chart::FileRole::Keysound, true);
            }
        }
    }

    Status decodeSounds()
    {
        std::vector<fs::path> sounds;
        for (const auto& relative : m_used) {
            if (isSoundName(relative)) {
                sounds.push_back(relative);
            }
        }
        // The same bytes decode the same: facts an audit of the same sounds kept stand.
        std::vector<std::optional<AuditedSounds::Content>> contents;
        for (const auto& relative : sounds) {
            const auto bytes = readKeepable(m_folder / relative);
            contents.push_back(bytes ? std::optional(AuditedSounds::contentOf(bytes->bytes())) : std::nullopt);
        }
        std::vector<AuditedSounds::Content> known;
        for (const auto& content : contents) {
            if (content) {
                known.push_back(*content);
            }
        }
        AuditedSounds audited(m_kept, std::move(known));
        std::vector<std::optional<SoundFacts>> facts(sounds.size());
        std::vector<bool> kept(sounds.size());  // found, where the decoding below fills the rest
        for (std::size_t k = 0; k < sounds.size(); ++k) {
            facts[k] = contents[k] ? audited.find(*contents[k]) : std::nullopt;
            kept[k] = facts[k].has_value();
        }
        // Each sound not kept is decoded on a thread of its own, into a place of its own; the
        // findings are then made in the folder's order, the same however the threads ran.
        JobOptions options;
        options.work = "the audit";
        options.nameOf = [&](std::size_t k) { return displayPath(sounds[k]); };
        m_progress.advance(0, static_cast<std::int64_t>(sounds.size()));
        const auto decoded = runJobs(
            sounds.size(),
            [&](std::size_t k, JobContext&) -> Status {
                if (!facts[k]) {
                    facts[k] = decodeSound(m_folder / sounds[k]);
                }
                return {};
            },
            options, m_progress);
        if (!decoded) {
            return decoded.error().code == ErrorCode::Cancelled ? Error{ErrorCode::Cancelled, "the audit was stopped"}
                                                                : decoded.error();
        }
        for (std::size_t k = 0; k < sounds.size(); ++k) {
            if (contents[k] && !kept[k]) {
                audited.remember(*contents[k], *facts[k]);
            }
            checkSound(sounds[k], *facts[k]);
            m_sounds.emplace(sounds[k], std::move(*facts[k]));
        }
        audited.save();
        return {};
    }

    // The bytes of a sound whose facts may be kept: not of one so large that holding it whole
    // costs more than decoding it as a stream.
    static std::optional<FileBytes> readKeepable(const fs::path& path)
    {
        std::error_code error;
        const auto size = fs::file_size(path, error);
        if (error || size > kKeptFactsMostBytes) {
            return std::nullopt;
        }
        auto bytes = readFileBytes(path);
        return bytes ? std::optional<FileBytes>(std::move(bytes).value()) : std::nullopt;
    }

    static SoundFacts decodeSound(const fs::path& path)
    {
        SoundFacts facts;
        float peak = 0;
        const auto frames = audio::streamSoundFile(
            path, kMeasuringRate, static_cast<std::int64_t>(audio::kLongestSoundSeconds * kMeasuringRate),
            [&](std::span<const float> block) {
                for (const float sample : block) {
                    peak = std::max(peak, std::fabs(sample));
                }
            });
        if (!frames) {
            facts.failure = frames.error().message;
            return facts;
        }
        facts.decoded = true;
        facts.seconds = static_cast<double>(*frames) / kMeasuringRate;
        facts.peak = peak;
        // Read only that far; the header tells how long the sound really is.
        facts.readToTheLimit = facts.seconds >= audio::kLongestSoundSeconds;
        if (const auto stated = audio::statedSoundSeconds(path);
            facts.readToTheLimit && stated && *stated > facts.seconds) {
            facts.seconds = *stated;
            facts.readToTheLimit = false;
        }
        return facts;
    }

    void checkSound(const fs::path& relative, const SoundFacts& facts)
    {
        const fs::path& file = relative;
        if (!facts.decoded) {
            add(AuditSeverity::Error, AuditCheck::UndecodableSound, file,
                "cannot be decoded: " + withoutFileName(facts.failure, m_folder / relative));
        } else if (facts.seconds >= kLongSoundSeconds) {
            add(AuditSeverity::Warning, AuditCheck::LongSound, file,
                "lasts " + secondsText(facts.seconds) + (facts.readToTheLimit ? " or more" : "") +
                    ", 60 s or more: release checkers flag sounds this long");
        }
        if (facts.decoded && facts.peak < kSilentPeak) {
            add(AuditSeverity::Warning, AuditCheck::SilentSound, file, "is silent: it holds no audible sample");
        }
    }

    void checkSoundsOfChart(const ChartFacts& facts)
    {
        const fs::path& file = facts.relative;
        // Code -> the decoded sound it plays, where there is one.
        std::map<std::string, const SoundFacts*> byName;
        for (const auto& named : facts.files) {
            if (named.keysound && named.found) {
                const auto sound = m_sounds.find(*named.found);
                byName[named.name] = sound != m_sounds.end() && sound->second.decoded ? &sound->second : nullptr;
            }
        }
        const auto& names = facts.timed.keysoundNames;
        const auto soundOf = [&](chart::ChartCode code) -> const SoundFacts* {
            if (code >= names.size() || names[code].empty()) {
                return nullptr;
            }
            const auto found = byName.find(names[code]);
            return found != byName.end() ? found->second : nullptr;
        };
        std::int64_t notes = 0;
        std::int64_t silentNotes = 0;
        double lastNote = -1;
        double soundEnd = 0;
        for (const auto& object : facts.timed.objects) {
            const auto* sound = object.kind == ObjectKind::LongNoteEnd ? nullptr : soundOf(object.code);
            if (object.kind != ObjectKind::Background) {
                lastNote = std::max(lastNote, object.seconds);
            }
            if (object.kind == ObjectKind::Note || object.kind == ObjectKind::LongNoteStart) {
                ++notes;
                silentNotes += sound == nullptr || sound->peak < kSilentPeak ? 1 : 0;
            }
            if (sound != nullptr) {
                soundEnd = std::max(soundEnd, object.seconds + sound->seconds);
            }
        }
        if (silentNotes > 0) {
            add(silentNotes * 2 > notes ? AuditSeverity::Warning : AuditSeverity::Notice,
                AuditCheck::NotesWithoutKeysound, file,
                std::to_string(silentNotes) + " of " + countText(notes, "note", "notes") + " (" +
                    percentText(silentNotes, notes) + (silentNotes == 1 ? ") plays" : ") play") + " no keysound");
        }
        if (lastNote >= 0 && soundEnd - lastNote > kLongEndingSeconds) {
            add(AuditSeverity::Warning, AuditCheck::LongEnding, file,
                "sounds go on for " + secondsText(soundEnd - lastNote) +
                    " after the last note, more than 30 s that players wait through");
        }
    }

    void checkFolder(const std::vector<fs::path>& charts, bool wholeFolder)
    {
        std::uintmax_t soundBytes = 0;
        for (const auto& relative : m_used) {
            std::error_code error;
            const auto size = fs::file_size(m_folder / relative, error);
            soundBytes += !error && isSoundName(relative) ? size : 0;
        }
        if (soundBytes > kLargestSoundBytes) {
            add(AuditSeverity::Warning, AuditCheck::SoundsTooLarge, fs::path(),
                "the sounds weigh " + std::to_string(soundBytes / (1024 * 1024)) +
                    " MB, more than the 40 MB events usually accept");
        }
        for (std::size_t k = 1; k < m_charts.size(); ++k) {
            if (m_charts[k].keysoundNames != m_charts[0].keysoundNames) {
                add(AuditSeverity::Notice, AuditCheck::DifferentKeysoundSets, m_charts[k].relative,
                    "defines other #WAV files than " + displayPath(m_charts[0].relative) +
                        ": players load another set of sounds for it");
            }
        }
        std::vector<fs::path> files;
        if (wholeFolder) {
            files = listFolder();
        } else {
            files.assign(m_used.begin(), m_used.end());
            files.insert(files.end(), charts.begin(), charts.end());
        }
        checkCaseOnlyDifferences(files);
        for (const auto& relative : files) {
            const std::string name = relative.string();
            if (!isAscii(name)) {
                add(AuditSeverity::Warning, AuditCheck::NonAsciiFileName, relative,
                    "the file name is not ASCII: unzip tools and players on other systems may not find it");
            }
            if (!wholeFolder || isChartName(relative) || m_used.count(relative) > 0 || m_refused.count(relative) > 0) {
                continue;
            }
            if (isBookkeeping(relative)) {
                // Kept for rebuilding the folder: every finished build has them, package leaves
                // them out, and a good folder reads clean.
                continue;
            }
            if (isPreviewByName(relative)) {
                m_used.insert(relative);  // players find it by its name
            } else {
                add(AuditSeverity::Warning, AuditCheck::UnusedFile, relative,
                    "no chart uses this file; package leaves it out");
            }
        }
    }

    // Names that differ in ASCII case alone ("a.wav", "A.wav") are one file once the folder is
    // unzipped where names are compared without case, as on Windows and macOS: one replaces the
    // other, and a chart plays the wrong sound.
    void checkCaseOnlyDifferences(const std::vector<fs::path>& files)
    {
        std::map<std::string, std::vector<fs::path>> byFoldedName;
        for (const auto& relative : files) {
            byFoldedName[lowerAscii(relative.generic_string())].push_back(relative);
        }
        for (const auto& [folded, spellings] : byFoldedName) {
            if (spellings.size() < 2) {
                continue;
            }
            std::string others;
            for (std::size_t k = 1; k < spellings.size(); ++k) {
                others += (k > 1 ? ", \"" : "\"") + spellings[k].generic_string() + "\"";
            }
            add(AuditSeverity::Warning, AuditCheck::NamesDifferInCaseOnly, spellings.front(),
                "differs from " + others + " only in case: unzipped on Windows or macOS, one file replaces the other");
        }
    }

    // Every regular file below the folder, relative to it, sorted; the staging folder of an
    // unfinished build is one notice, not a list of its files.
    std::vector<fs::path> listFolder()
    {
        std::vector<fs::path> files;
        std::error_code error;
        fs::recursive_directory_iterator it(m_folder, fs::directory_options::skip_permission_denied, error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            const auto relative = it->path().lexically_relative(m_folder);
            std::error_code kindError;
            if (it.depth() == 0 && relative == base::StagingFolder::kName) {
                it.disable_recursion_pending();
                add(AuditSeverity::Notice, AuditCheck::BookkeepingFile, relative,
                    "an unfinished build's staging folder; package leaves it out");
            } else if (it->is_regular_file(kindError)) {
                files.push_back(relative);
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    fs::path m_folder;
    ProgressSink& m_progress;
    audio::KeysoundFinder m_finder;
    FileCache* m_kept;
    AuditReport m_report;
    std::vector<ChartFacts> m_charts;
    std::set<fs::path> m_used;
    std::set<fs::path> m_refused;  // names a chart gives that lead out of the folder, reported once
    std::map<fs::path, SoundFacts> m_sounds;
};

// A Standard MIDI File ("MThd"), or one wrapped in RIFF ("RIFF....RMID"), given where a chart is
// meant: read as a chart it is a page of unreadable lines.
bool isMidiFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    const std::string_view bytes(head, static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes.starts_with("MThd") || (bytes.size() == 12 && bytes.starts_with("RIFF") && bytes.substr(8) == "RMID");
}

}  // namespace

bool AuditReport::hasError() const
{
    return std::any_of(findings.begin(), findings.end(),
                       [](const AuditFinding& finding) { return finding.severity == AuditSeverity::Error; });
}

const char* severityWord(AuditSeverity severity)
{
    switch (severity) {
    case AuditSeverity::Error:
        return "error";
    case AuditSeverity::Warning:
        return "warning";
    case AuditSeverity::Notice:
        return "notice";
    }
    return "notice";
}

Result<AuditReport> auditFolder(const fs::path& target, ProgressSink& progress)
{
    return auditFolder(target, progress, nullptr);
}

Result<AuditReport> auditFolder(const fs::path& target, ProgressSink& progress, FileCache* kept)
{
    std::error_code error;
    if (fs::is_directory(target, error)) {
        std::vector<fs::path> charts;
        for (fs::directory_iterator it(target, fs::directory_options::skip_permission_denied, error);
             !error && it != fs::directory_iterator(); it.increment(error)) {
            std::error_code kindError;
            if (isChartName(it->path()) && it->is_regular_file(kindError)) {
                charts.push_back(it->path().filename());
            }
        }
        if (error) {
            return fileError(ErrorCode::CannotOpen, target, "read", error.value());
        }
        std::sort(charts.begin(), charts.end());
        return Auditor(target, progress, kept).run(std::move(charts), true);
    }
    if (fs::is_regular_file(target, error)) {
        if (isMidiFile(target)) {
            return Error{ErrorCode::CannotOpen,
                         displayPath(target) + ": a MIDI file, not a chart; build a chart folder from it first"}
                .inFile(displayPath(target))
                .about("midi");
        }
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        return Auditor(folder, progress, kept).run({target.filename()}, false);
    }
    return fileError(ErrorCode::CannotOpen, target, "open", "neither a chart folder nor a chart");
}

}  // namespace zentrowe::workflow
