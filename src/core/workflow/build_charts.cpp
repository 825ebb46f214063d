#include "core/workflow/build_charts.h"

#include <algorithm>
#include <array>
#include <limits>

#include "core/base/atomic_file_writer.h"
#include "core/base/kanji_form.h"
#include "core/base/text_decoding.h"
#include "core/base/utf8_path.h"
#include "core/chart/bms_writer.h"
#include "core/chart/bmson_writer.h"
#include "core/chart/code_numbering.h"
#include "core/chart/line_slots.h"
#include "core/chart/timed_chart.h"
#include "core/convert/chart_lines.h"
#include "core/song/song_credits.h"
#include "core/workflow/lead_in.h"

namespace zentrowe::workflow {

namespace {

std::uint32_t tempoAtTickZero(const song::SongSummary& song)
{
    std::uint32_t tempo = song::kDefaultTempoMicros;
    for (const auto& change : song.tempoMap) {
        if (change.time == 0) {
            tempo = change.tempoMicros;
        }
    }
    return tempo;
}

// BMS players read chart text as Shift_JIS: the chart's texts are put in it when every one of
// them (each in its Japanese kanji form where `kanji` is given and the text has no Shift_JIS form
// as written), and every file name it names, has a Shift_JIS form (file names must stay the bytes
// of the files); else all stay UTF-8 as given, which newer players read.
void encodeChartText(chart::Chart& chart, KanjiForms* kanji)
{
    auto& header = chart.header;
    std::array<std::string*, 4> texts = {&header.title, &header.subtitle, &header.artist, &header.genre};
    const bool namesAscii = std::all_of(chart.keysounds.begin(), chart.keysounds.end(), [](const auto& keysound) {
        return std::all_of(keysound.fileName.begin(), keysound.fileName.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    });
    if (!namesAscii) {
        return;
    }
    std::array<std::string, 4> encoded;
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const auto form = kanji != nullptr ? kanji->shiftJisForm(*texts[k]) : std::nullopt;
        auto shiftJis = encodeShiftJis(form ? *form : *texts[k]);
        if (!shiftJis) {
            return;
        }
        encoded[k] = std::move(*shiftJis);
    }
    for (std::size_t k = 0; k < texts.size(); ++k) {
        *texts[k] = std::move(encoded[k]);
    }
}

// The chart the conversion made, completed with what a player needs to list the song and the
// BGM files, each defined after the keysounds and started at the first slot of its measure on the
// background channel.
void completeChart(chart::Chart& chart, const BuildRequest& request, const song::SongCredits& credits,
                   const std::vector<BgmFile>& bgmFiles, KanjiForms& kanji)
{
    auto& header = chart.header;
    header.player = header.player.value_or(1);  // a double-play set's charts say 3 already
    header.title = request.title.empty() ? credits.title : request.title;
    if (header.title.empty()) {
        header.title = song::titleOfFileName(request.conversion.sourceMidiPath);
    }
    header.artist = request.artist ? *request.artist : credits.artist;
    if (header.genre.empty()) {
        header.genre = kDefaultGenre;
    }
    header.initialBpm = 60'000'000.0 / tempoAtTickZero(request.conversion.song);
    header.volWav = 100;  // the files are levelled already: players should play them as they are
    header.previewFile = kPreviewFileName;
    for (const auto& file : bgmFiles) {
        chart.keysounds.push_back({file.code, file.name});
        chart.addLine(file.measure, chart::kBackgroundChannel, convert::kSlots);
        chart.addObject(0, file.code);
    }
    if (request.conversion.settings.bmson) {
        // bmson counts the timing window and the gauge relative to the player's own.
        header.rank = chart::bmsonJudgeRank(header.rank.value_or(2));
        header.total = chart::kBmsonPlayersOwnTotal;
    } else {
        encodeChartText(chart, request.text == ChartText::ShiftJis ? &kanji : nullptr);
    }
}

// Writes a file whole through a temporary file: `fill` writes its contents into the writer.
template <typename Fill>
Status writeWhole(const std::filesystem::path& path, FileSystem& files, Fill fill)
{
    AtomicFileWriter file(path, files);
    Status status = file.open();
    if (status) {
        status = fill(file);
    }
    if (status) {
        status = file.commit();
    }
    return status;
}

// Writes the chart once, whole, in its own format.
Status writeChart(const std::filesystem::path& chartPath, const chart::Chart& chart, bool bmson, FileSystem& files)
{
    return writeWhole(chartPath, files, [&](AtomicFileWriter& file) {
        return bmson ? chart::writeBmson(chart, file) : chart::writeBms(chart, file);
    });
}

}  // namespace

Result<LeadIn> writeBuildCharts(std::vector<chartset::SetChart>& charts, const BuildRequest& request,
                                const song::SongCredits& credits, const std::vector<BgmFile>& bgmFiles,
                                std::span<const SilentKeysound> silent, const std::filesystem::path& stage,
                                FileSystem& files)
{
    const bool bmson = request.conversion.settings.bmson;
    std::vector<chart::Chart*> set;
    KanjiForms kanji;
    for (auto& made : charts) {
        dropSilentDefinitions(made.chart, silent);
        completeChart(made.chart, request, credits, bgmFiles, kanji);
        set.push_back(&made.chart);
    }
    // A file once per chart, under the same code in each: a lane keysound's lengths that round to
    // one file name, a zero-length note doubled by a longer one, never placed, take none.
    chart::numberCodesByFile(set,
                             bmson ? 1 : static_cast<chart::ChartCode>(request.conversion.settings.startValue + 1));
    // Every chart of the set plays the same objects at the same places: one lead-in for all.
    LeadIn leadIn;
    leadIn.measures =
        leadInMeasures(charts.front().chart, bmson ? std::numeric_limits<std::int32_t>::max() : kLastBmsMeasure);
    leadIn.seconds = leadIn.measures * 4 * 60 / charts.front().chart.header.initialBpm.value_or(130);
    // The measures come before every tempo change, so they add their length at the first tempo.
    leadIn.firstSoundSeconds =
        chart::firstSoundSeconds(chart::timeChart(chart::ChartReading{charts.front().chart, 0, {}})) + leadIn.seconds;
    for (auto& made : charts) {
        addLeadIn(made.chart, leadIn.measures);
        if (!bmson) {
            chart::fitLineSlots(made.chart);  // objects at their ticks, lines no longer than they need
        }
        if (auto written = writeChart(stage / utf8Path(made.fileName), made.chart, bmson, files); !written) {
            return written.error();
        }
        made.chart = {};
    }
    return leadIn;
}

}  // namespace zentrowe::workflow
