#include "core/workflow/audited_sounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/workflow/audit.h"
#include "support/chart_folder.h"

namespace zentrowe::testing {
namespace {

namespace fs = std::filesystem;
using workflow::AuditedSounds;
using workflow::SoundFacts;

SoundFacts decodedFacts(double seconds, float peak)
{
    SoundFacts facts;
    facts.decoded = true;
    facts.seconds = seconds;
    facts.peak = peak;
    return facts;
}

TEST(AuditedSounds, FactsStandOnlyForTheSameSounds)
{
    const AuditedSounds::Content kick{0x1111, 441}, snare{0x2222, 882}, other{0x2222, 883};
    struct Case {
        const char* what;
        std::vector<AuditedSounds::Content> again;
        bool failedFirst;  // the first audit could not decode the snare
        bool found;
    };
    const Case cases[] = {
        {"the same sounds", {kick, snare}, false, true},
        {"the same sounds in another order, one named twice", {snare, kick, snare}, false, true},
        {"one sound of another size", {kick, other}, false, false},
        {"fewer sounds", {kick}, false, false},
        {"more sounds", {kick, snare, other}, false, false},
        {"one sound undecodable the first time", {kick, snare}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        std::error_code error;
        auto cache = FileCache::open(dir.path() / "cache", kDefaultCacheBytes, realFileSystem(), error);
        ASSERT_TRUE(cache) << error.message();
        AuditedSounds first(&*cache, {kick, snare});
        EXPECT_FALSE(first.find(kick));
        first.remember(kick, decodedFacts(0.01, 0.25f));
        first.remember(snare, c.failedFirst ? SoundFacts{} : decodedFacts(65.5, 0.5f));
        first.save();

        const AuditedSounds again(&*cache, c.again);
        const auto found = again.find(snare);
        ASSERT_EQ(found.has_value(), c.found);
        if (c.found) {
            EXPECT_TRUE(found->decoded);
            EXPECT_EQ(found->seconds, 65.5);
            EXPECT_EQ(found->peak, 0.5f);
            EXPECT_EQ(again.find(kick)->seconds, 0.01);
        }
    }
}

// An audit taking its sounds' facts from the cache says what one decoding them says: in the
// folder audited first, audited again, and in a copy of it elsewhere.
TEST(AuditedSounds, AnAuditWithKeptFactsFindsWhatOneWithoutFinds)
{
    struct Case {
        const char* defect;
        std::function<void(const fs::path&)> plant;
    };
    const Case cases[] = {
        {"none", [](const fs::path&) {}},
        {"silent sound", [](const fs::path& d) { writeFile(d / "kick.wav", pcmWave(441, 44100, 0)); }},
        {"undecodable sound", [](const fs::path& d) { writeFile(d / "kick.wav", std::string_view("not a sound")); }},
        {"65 s sound", [](const fs::path& d) { writeFile(d / "kick.wav", pcmWave(65 * 1000, 1000)); }},
    };
    const auto findings = [](const workflow::AuditReport& report) {
        std::vector<std::string> lines;
        for (const auto& finding : report.findings) {
            lines.push_back(finding.file.string() + ": " + finding.message);
        }
        return lines;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect);
        const TempDir dir;
        fs::create_directories(dir.path() / "first");
        writeGoodFolder(dir.path() / "first");
        c.plant(dir.path() / "first");
        NullProgress quiet;
        const auto plain = workflow::auditFolder(dir.path() / "first", quiet);
        ASSERT_TRUE(plain) << plain.error().message;
        std::error_code error;
        auto cache = FileCache::open(dir.path() / "cache", kDefaultCacheBytes, realFileSystem(), error);
        ASSERT_TRUE(cache) << error.message();
        fs::copy(dir.path() / "first", dir.path() / "copy");
        for (const char* folder : {"first", "first", "copy"}) {
            SCOPED_TRACE(folder);
            const auto kept = workflow::auditFolder(dir.path() / folder, quiet, &*cache);
            ASSERT_TRUE(kept) << kept.error().message;
            EXPECT_EQ(findings(*kept), findings(*plain));
        }
    }
}

}  // namespace
}  // namespace zentrowe::testing
