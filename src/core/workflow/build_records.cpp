#include "core/workflow/build_records.h"

#include <set>
#include <utility>

#include "core/audio/sound_file_writer.h"
#include "core/base/number_text.h"
#include "core/base/utf8_path.h"
#include "core/chartset/difficulty.h"
#include "core/convert/keysound_name.h"
#include "core/song/track_part.h"
#include "core/workflow/followed_parts.h"

namespace zentrowe::workflow {

namespace {

// The build's settings, as the manifest records them for every chart of the set.
std::vector<std::pair<std::string, std::string>> manifestSettings(const BuildRequest& request)
{
    const auto& settings = request.conversion.settings;
    return {
        {"mode", settings.percussion  ? "percussion"
                 : settings.longNotes ? "long"
                                      : "plain"},
        {"chartFormat", settings.bmson ? "bmson" : "bms"},
        {"codes", settings.base62 ? "62" : "36"},
        {"keysoundName", settings.keysoundName},
        {"gap", std::to_string(settings.keysoundGap)},
        {"soundFont", request.soundFont.filename().string()},  // by name: a folder goes public
        {"format", std::string(audio::soundFileExtension(request.format)).substr(1)},
        {"bgm", request.bgm == BgmMode::Keysounds ? "keysounds"
                : request.bgm == BgmMode::Slices  ? "slices"
                : request.bgm == BgmMode::One     ? "one"
                                                  : "no"},
        {"loudness", request.loudness ? fixedText(*request.loudness, 6) : "off"},
        {"scratch", request.charts.scratch ? "on" : "off"},
        {"follow", request.charts.chosenParts > 0 ? "on" : "off"},
    };
}

// Whether the chart's lanes took another part anywhere, and where: what was done, not what was
// asked, as a part's own set, or a double-play set falling back to the tune, may borrow nothing
// (or, in a part's set, borrow where the named parts together never rest).
void recordFollowing(BuildRecord& record, const chartset::SetChart& made, const PreparedSong& prepared)
{
    const auto stretches = followedStretches(made.report.borrowed, prepared.parts, prepared.timeline);
    for (auto& [name, value] : record.settings) {
        if (name == "follow") {
            value = stretches.empty() ? "off" : "on";
        }
    }
    if (!stretches.empty()) {
        record.settings.emplace_back("followed", followedText(stretches));
    }
}

}  // namespace

std::vector<BuildRecord> buildRecords(const BuildPlan& plan, const RenderResult& rendered, const BuildRequest& request,
                                      const PreparedSong& prepared, const std::string& songHash)
{
    BuildRecord record;
    record.files = rendered.keysoundNames;
    for (const auto& bgmFile : plan.bgmFiles) {
        record.files.push_back(bgmFile.name);
    }
    record.files.push_back(kKeysoundMidiFileName);
    record.files.push_back(kPreviewFileName);
    record.song = request.conversion.sourceMidiPath.filename().string();
    record.songHash = songHash;
    record.track = request.conversion.trackNumber;
    record.settings = manifestSettings(request);
    record.options = BuildRecordOptions{request.bgm, request.conversion.settings.base62 ? 62 : 36};
    auto parts = prepared.parts;
    parts.resize(request.charts.tuneParts > 0     ? request.charts.tuneParts
                 : request.charts.chosenParts > 0 ? request.charts.chosenParts
                                                  : parts.size());
    if (parts.size() > 1 || parts.front().channel != 0) {
        // What --track named, where "track" alone does not say it: "1:2", "4,2".
        std::string named;
        for (const auto& part : parts) {
            named += (named.empty() ? "" : ",") + song::partText(part);
        }
        record.settings.emplace_back("parts", named);
    }
    if (request.charts.play == chartset::Play::Double) {
        record.settings.emplace_back("play", "double");
    }
    const char* lanes = request.charts.lanes == chartset::LaneRule::Playable ? "playable" : "seed";
    std::vector<BuildRecord> records;
    for (const auto& made : rendered.charts) {
        records.push_back(record);
        records.back().chart = made.fileName;
        recordFollowing(records.back(), made, prepared);
        records.back().settings.emplace_back("difficulty", chartset::difficultyName(made.report.difficulty));
        records.back().settings.emplace_back("lanes", lanes);
        if (!made.part.empty()) {
            records.back().settings.emplace_back("part", made.part);
        }
    }
    return records;
}

BuildManifest withSoundSources(BuildManifest manifest, const RenderResult& rendered,
                               const ConversionOutcome& conversion, const BuildRequest& request,
                               const PreparedSong& prepared)
{
    const auto& keysounds = conversion.keysounds;
    const auto& parts = prepared.parts;
    const std::string extension(audio::soundFileExtension(request.format));
    const std::set<std::string> written(rendered.keysoundNames.begin(), rendered.keysoundNames.end());
    std::vector<std::pair<std::string, SoundSource>> sources;
    std::set<std::string> named;
    for (std::size_t k = 0; k < keysounds.size(); ++k) {
        std::string name = convert::keysoundStem(request.conversion.settings.keysoundName, keysounds[k],
                                                 request.conversion.song.ticksPerMeasure, keysounds.suffix(k)) +
                           extension;
        const convert::KeysoundSource source = keysounds.source(k);
        if (written.count(name) != 0 && source.part < parts.size() && named.insert(name).second) {
            sources.emplace_back(std::move(name), SoundSource{parts[source.part].trackNumber, source.channel + 1});
        }
    }
    std::erase_if(manifest.sounds, [&](const auto& sound) { return named.count(sound.first) != 0; });
    manifest.sounds.insert(manifest.sounds.end(), sources.begin(), sources.end());
    return manifest;
}

}  // namespace zentrowe::workflow
