// Reads charts with the npm package "bms" and prints, per chart, one JSON line with what a player
// built on it would see: the keysound files, and every note with its beat, time in seconds,
// column and keysound.
//
// Usage: node read_charts.js CHART.bms...

'use strict'

const fs = require('fs')
const bms = require('bms')

function readChart(path) {
  const text = bms.Reader.read(fs.readFileSync(path))
  const compiled = bms.Compiler.compile(text)
  const chart = compiled.chart
  const timing = bms.Timing.fromBMSChart(chart)
  const keysounds = bms.Keysounds.fromBMSChart(chart)
  const notes = bms.Notes.fromBMSChart(chart)
    .all()
    .map((note) => ({
      beat: note.beat,
      endBeat: note.endBeat === undefined ? null : note.endBeat,
      seconds: timing.beatToSeconds(note.beat),
      endSeconds: note.endBeat === undefined ? null : timing.beatToSeconds(note.endBeat),
      column: note.column === undefined ? null : note.column,
      code: note.keysound,
      file: keysounds.get(note.keysound) === undefined ? null : keysounds.get(note.keysound),
    }))
  // The keysound definitions in file order: the #WAV lines are headers, kept in order.
  const wavs = []
  chart.headers.each((name, value) => {
    const match = name.match(/^wav(\S\S)$/i)
    if (match) wavs.push([match[1].toUpperCase(), value])
  })
  return {
    path,
    warnings: compiled.warnings.length,
    malformed: compiled.malformedSentences,
    wavs,
    notes,
  }
}

for (const path of process.argv.slice(2)) {
  process.stdout.write(JSON.stringify(readChart(path)) + '\n')
}
