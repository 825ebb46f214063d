// Arbitrary bytes as the chart `zentrowe-cli picture` is given: a bmson chart when they begin
// with "{", else BMS. Whatever the bytes: the score is refused in a sentence naming the chart, or
// its times are finite and within the bound, its measures ascend from beat 0 and its notes lie in
// beat order; and the picture is drawn no larger than picture::kLargestSide a side, or refused.
// Built only with the picture library: it draws with Qt on its offscreen platform.

#include <QGuiApplication>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "app/picture/chart_picture.h"
#include "core/chart/chart_score.h"

namespace {

void require(bool holds, const char* rule)
{
    if (!holds) {
        std::fprintf(stderr, "picture rule broken: %s\n", rule);
        std::abort();
    }
}

// A folder of this process's own for the chart file, made once.
const std::filesystem::path& chartFolder()
{
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "zentrowe-fuzz-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "a temporary folder can be made");
        return std::filesystem::path(pattern);
    }();
    return folder;
}

void requireScore(const zentrowe::chart::ChartScore& score)
{
    using zentrowe::chart::kLongestScoreSeconds;
    require(std::isfinite(score.lengthSeconds) && score.lengthSeconds <= kLongestScoreSeconds,
            "the chart's length is finite and within the bound");
    for (const double seconds : score.noteSeconds) {
        require(std::isfinite(seconds) && seconds <= kLongestScoreSeconds, "every note's time is within the bound");
    }
    require(score.measureBeats.front() == 0, "the first measure starts at beat 0");
    for (std::size_t m = 1; m < score.measureBeats.size(); ++m) {
        require(score.measureBeats[m] >= score.measureBeats[m - 1], "measures ascend");
    }
    for (std::size_t k = 1; k < score.notes.size(); ++k) {
        require(score.notes[k].beat >= score.notes[k - 1].beat, "notes lie in beat order");
    }
    require(!score.tempos.empty() && score.tempos.front().beat == 0, "the first tempo is at beat 0");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "chart_picture_fuzz";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication application(argc, argv);

    const bool bmson = size > 0 && data[0] == '{';
    const auto path = chartFolder() / (bmson ? "c.bmson" : "c.bms");
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const auto score = zentrowe::chart::readChartScore(path);
    if (!score) {
        require(score.error().message.find(path.filename().string()) != std::string::npos, "a refusal names the chart");
        return 0;
    }
    requireScore(*score);
    const QImage image = zentrowe::picture::drawChartPicture(*score);
    require(image.isNull() ||
                (image.width() <= zentrowe::picture::kLargestSide && image.height() <= zentrowe::picture::kLargestSide),
            "a picture is no larger than the largest side");
    return 0;
}
