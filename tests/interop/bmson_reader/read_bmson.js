// Reads bmson charts with the npm package "bmson" (and BMS charts with "bms", which it builds
// on) and prints, per chart, one JSON line with what a player built on it would see.
//
// Usage: node read_bmson.js CHART.bmson|CHART.bms...

'use strict'

const fs = require('fs')
const bms = require('bms')
const bmson = require('bmson')

function noteList(notes, keysounds) {
  return notes.all().map((note) => ({
    beat: note.beat,
    endBeat: note.endBeat === undefined ? null : note.endBeat,
    column: note.column === undefined ? null : note.column,
    file: keysounds.get(note.keysound) === undefined ? null : keysounds.get(note.keysound),
  }))
}

function readBmson(path) {
  const data = JSON.parse(fs.readFileSync(path, 'utf8'))
  const score = bmson.musicalScoreForBmson(data)
  const timing = bmson.timingInfoForBmson(data)
  return {
    path,
    title: bmson.songInfoForBmson(data).title,
    artist: bmson.songInfoForBmson(data).artist,
    barLines: bmson.barLinesForBmson(data),
    initialBPM: timing.initialBPM,
    tempos: timing.actions.filter((action) => action.type === 'bpm').map((action) => [action.beat, action.bpm]),
    notes: noteList(score.notes, score.keysounds),
    raw: data,
  }
}

function readBms(path) {
  const chart = bms.Compiler.compile(bms.Reader.read(fs.readFileSync(path))).chart
  return {
    path,
    notes: noteList(bms.Notes.fromBMSChart(chart), bms.Keysounds.fromBMSChart(chart)),
  }
}

for (const path of process.argv.slice(2)) {
  const read = path.endsWith('.bmson') ? readBmson(path) : readBms(path)
  process.stdout.write(JSON.stringify(read) + '\n')
}
