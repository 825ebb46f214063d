#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/base/progress.h"
#include "core/base/result.h"
#include "core/keysound/keysound_cuts.h"

namespace zentrowe::keysound {

// Where the recording's first sample lies in the keysound MIDI file.
enum class LeadIn {
    // Decide from the sound: see cutRecording.
    Auto,
    // The first sample is the first Note On (a renderer that skips leading silence).
    FirstNote,
    // The first sample is time 0 of the file, one gap before the first Note On (most renderers
    // and audio workstations).
    FileStart,
};

// One cut of the recording, in ticks of the keysound MIDI file.
struct CutRequest {
    std::filesystem::path recording;
    std::filesystem::path outputFolder;
    // Keysound i's file stem (table order), without ".wav": prefix + note + "-" + units + "-" +
    // velocity. Each must be a safe file name: printable ASCII without / \ : * ? " < > |.
    std::vector<std::string> keysoundStems;
    // Where keysound i lies, from reading the keysound MIDI file back. Only the first
    // min(stems, cuts) keysounds are cut; a difference is reported as a warning.
    CutList cuts;
    std::int32_t ticksPerQuarter = 96;
    std::uint32_t tempoMicros = 500000;
    // The silence before every Note On of the keysound file, in its ticks.
    std::int64_t gapTicks = 0;
    LeadIn leadIn = LeadIn::Auto;
    // Files no keysound may replace: the chart and the keysound MIDI file beside it.
    std::vector<std::filesystem::path> protectedFiles;
};

struct CutReport {
    // Every file written, in keysound order (a name that repeats is listed each time).
    std::vector<std::filesystem::path> written;
    // FirstNote or FileStart: the case the cut used (Auto resolved).
    LeadIn leadInUsed = LeadIn::FirstNote;
    // Sentences for the user about things that did not stop the cut.
    std::vector<std::string> warnings;
};

// Cuts the recording into one WAV file per keysound, named stem + ".wav", in the output folder.
// Each file is the recording's header up to the "data" tag (its chunks kept byte for byte
// except "JUNK" and "PAD " padding, which is left out; the RIFF size, the data size and every
// "fact" frame count rewritten) and the stretch of sample
// bytes from the keysound's Note On to the next keysound's Note On (the last keysound: to its
// Note Off). Offsets are the seconds times the byte rate rounded half to even, then down to a
// whole frame; bytes the recording does not have are written as zeros.
//
// Lead-in Auto: FileStart if the gap is 0, or if the first frame in which any channel reaches
// 0.001 of full scale lies at least half a gap into the data; otherwise FirstNote.
//
// A recording that ends before a keysound does still cuts (zeros past its end), with a warning
// saying how many keysounds reach past it.
//
// Reports progress in files (advance(i, count) after file i) and polls stopRequested() between
// files. Errors, in each case before anything is written unless noted: CannotOpen (recording
// unreadable); NotPcmWave (not RIFF/WAVE, no "fmt " of 16 bytes or more before "data", no
// "data", a sample format other than PCM or IEEE float, a format chunk whose channels, bits,
// block align or byte rate do not agree);
// SilentRecording (a sample layout the loudness test reads, and no frame reaching 0.001 of full
// scale); InvalidSetting (an unsafe stem, a tick rate or tempo of 0, a keysound lying 2^62 bytes
// or more into the recording, a keysound whose bytes do not fit a WAV file); EmptyTrack (no
// keysound to cut); WouldOverwriteSource (an output file is the recording itself or one of the
// protected files); WriteFailed (a file could not be written: files completed
// before it stay, the failed one leaves nothing); Cancelled (the sink asked to stop: files
// completed before stay, no partial file is left).
Result<CutReport> cutRecording(const CutRequest& request, ProgressSink& progress);

// Seconds of the keysound MIDI file, whose one tempo holds from tick 0 (song::Timeline::steady):
// ticks × tempo / 1,000,000 / ticks per quarter, evaluated left to right in double precision.
double ticksToSeconds(std::int64_t ticks, std::uint32_t tempoMicros, std::int32_t ticksPerQuarter);

// A position in the data chunk: seconds × byte rate rounded half to even, then down to a
// whole frame (toward zero, so a negative position moves toward the start). Nothing if the
// position is not finite or lies 2^62 bytes or more from the start, beyond any file.
std::optional<std::int64_t> frameOffset(double seconds, std::uint32_t byteRate, std::uint16_t blockAlign);

}  // namespace zentrowe::keysound
