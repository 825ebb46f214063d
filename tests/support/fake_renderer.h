#pragma once

// The one stand-in for the synthesiser: instant and deterministic, so a build's tests look at
// the files around the sound, not at FluidSynth.

#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/audio/render_pool.h"
#include "core/audio/synth_renderer.h"

namespace zentrowe::testing {

// What a FakeRenderer records and where it fails.
struct FakeRendering {
    enum class Fault { None, BadAlloc, Exception };
    std::vector<audio::NoteSound>* notes = nullptr;  // each note asked for, in order (one thread)
    std::atomic<int>* calls = nullptr;               // renderings so far, counted from 1
    int failAt = 0;                                  // the rendering (by `calls`) that throws; 0: none
    Fault fault = Fault::None;
};

// A short tone whose pitch and level follow the note and velocity (no samples at channel volume
// 0, as the synthesiser renders a note never heard), and a tenth of a second for a sequence.
// Bank 5 stands for a preset the soundfont lacks.
class FakeRenderer final : public audio::Renderer {
public:
    using Fault = FakeRendering::Fault;
    using Setup = FakeRendering;

    explicit FakeRenderer(Setup setup = {}) : m_setup(setup) { }

    Result<std::vector<float>> renderNote(const audio::NoteSound& sound) override
    {
        fault();
        if (m_setup.notes != nullptr) {
            m_setup.notes->push_back(sound);
        }
        if (sound.controls.volume == 0) {
            return std::vector<float>{};
        }
        std::vector<float> out(2 * 441);
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = static_cast<float>(sound.velocity) / 200.0f * std::sin(static_cast<float>(i * sound.note) * 0.01f);
        }
        return out;
    }
    Result<std::vector<float>> renderEvents(std::span<const audio::TimedEvent>, std::int64_t, ProgressSink&) override
    {
        fault();
        std::vector<float> out(2 * 4410);
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = 0.25f * std::sin(static_cast<float>(i / 2) * 0.05f);
        }
        return out;
    }
    bool hasPreset(const audio::Instrument& instrument) const override { return instrument.bank != 5; }

private:
    void fault()
    {
        if (m_setup.calls == nullptr || ++*m_setup.calls != m_setup.failAt) {
            return;
        }
        if (m_setup.fault == Fault::BadAlloc) {
            throw std::bad_alloc();
        }
        if (m_setup.fault == Fault::Exception) {
            throw std::runtime_error("a fault of the renderer");
        }
    }

    Setup m_setup;
};

// What a build's services take: a FakeRenderer with `setup` for every rendering thread.
inline audio::RendererFactory fakeRenderers(FakeRendering setup = {})
{
    return [setup]() -> Result<std::unique_ptr<audio::Renderer>> {
        return std::unique_ptr<audio::Renderer>(std::make_unique<FakeRenderer>(setup));
    };
}

}  // namespace zentrowe::testing
