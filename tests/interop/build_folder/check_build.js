// Usage: node check_build.js ZENTROWE_CLI SONG.mid WORK_FOLDER [BUILD_NAME,...]
'use strict'

const bms = require('bms')
const fs = require('fs')
const path = require('path')
const { execFileSync } = require('child_process')

const [cli, song, work, only] = process.argv.slice(2)
const title = '欢乐颂 Ode'
// The simplified hanzi have no Shift_JIS form: a BMS chart holds the title in Japanese kanji,
// which every player reads, unless --text utf-8 keeps it as given.
const kanjiTitle = '歓楽頌 Ode'
const artist = 'ベートーヴェン'
// `notes`: the track's notes, as the track list counts them; every chart of a set plays each of
// them once, in a lane or from the background.
// A dense track the sets thin hard: 8 s of 16ths at 240 BPM (16 a second) over an octave, every
// fourth repeating the note before, and a five-note chord under every beat; 256 notes.
function denseSong() {
  const scale = [60, 62, 64, 65, 67, 69, 71, 72, 72, 71, 69, 67, 65, 64, 62, 60]
  const events = []
  for (let step = 0; step < 128; step++) {
    const note = scale[(step % 4 === 3 ? step - 1 : step) % 16]
    const chord = step % 4 === 0 ? [12, 8, 5, 3].map((below) => [note - below, 80]) : []
    for (const [key, velocity] of [...chord, [note, step % 4 === 0 ? 110 : 90]]) {
      events.push([step * 24, 1, key, velocity], [step * 24 + 24, 0, key, 64])
    }
  }
  events.sort((a, b) => a[0] - b[0] || a[1] - b[1])
  const varLen = (value) => {
    const bytes = [value & 0x7f]
    for (value >>= 7; value > 0; value >>= 7) bytes.unshift((value & 0x7f) | 0x80)
    return bytes
  }
  const track = [0, 0xff, 0x51, 3, 0x03, 0xd0, 0x90]  // 250,000 us a quarter
  let now = 0
  for (const [tick, on, key, velocity] of events) {
    track.push(...varLen(tick - now), on ? 0x90 : 0x80, key, velocity)
    now = tick
  }
  track.push(0, 0xff, 0x2f, 0)
  const length = [24, 16, 8, 0].map((shift) => (track.length >> shift) & 0xff)
  return Buffer.from([...Buffer.from('MThd'), 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, ...Buffer.from('MTrk'), ...length, ...track])
}

// notes: what the lanes and the background play besides the BGM files: the track's notes with
// BGM slices, the whole song's (286) where every note is a keysound, as builds make by default.
const builds = [
  { name: 'plain-ogg', extension: '.ogg', notes: 286,
    args: ['--track', '2', '--difficulties', 'beginner,normal,hyper,another,insane'] },
  { name: 'long-wav', extension: '.wav', notes: 62, title,
    args: ['--track', '2', '--mode', 'long', '--format', 'wav', '--bgm', 'slices', '--text', 'utf-8'] },
  { name: 'percussion', extension: '.ogg', notes: 286, args: ['--track', '3', '--mode', 'percussion'] },
  { name: 'dense', extension: '.ogg', notes: 256, song: 'dense.mid', args: ['--track', '1', '--no-bgm'] },
]

// What a player opens for a #WAV name: the name, else its stem with the extension of the files
// built (".ogg" is found by every player we know; ".wav" behind an ".OGG" name only by players
// that try other extensions).
function resolve(folder, name, extension) {
  const exact = path.join(folder, name)
  if (fs.existsSync(exact)) return exact
  const other = path.join(folder, name.replace(/\.[^.]*$/, '') + extension)
  return fs.existsSync(other) ? other : null
}

let failures = 0
function fail(message) {
  console.error(message)
  failures++
}

// Each build renders with the real synthesiser, so the tests run them in groups side by side.
for (const build of builds.filter((b) => !only || only.split(',').includes(b.name))) {
  const folder = path.join(work, build.name)
  fs.rmSync(folder, { recursive: true, force: true })
  let source = song
  if (build.song) {
    fs.mkdirSync(work, { recursive: true })
    source = path.join(work, build.song)
    fs.writeFileSync(source, denseSong())
  }
  execFileSync(cli, ['build', source, '--out', folder, '--title', title, '--artist', artist, ...build.args], {
    stdio: ['ignore', 'ignore', 'inherit'],
  })
  const stem = path.basename(source, '.mid')
  const charts = fs.readdirSync(folder).filter((name) => name.startsWith(stem + '_') && /_[BNHAX]\.bms$/.test(name)).sort()
  if (charts.length < 3) fail(`${build.name}: only the charts ${charts.join(', ')}`)
  for (const chartName of charts) {
    const label = `${build.name} ${chartName}`
    const chart = bms.Compiler.compile(bms.Reader.read(fs.readFileSync(path.join(folder, chartName)))).chart
    const info = bms.SongInfo.fromBMSChart(chart)
    const expected = build.title || kanjiTitle
    if (info.title !== expected) fail(`${label}: title read as ${JSON.stringify(info.title)}, not ${expected}`)
    if (info.artist !== artist) fail(`${label}: artist read as ${JSON.stringify(info.artist)}`)
    const keysounds = bms.Keysounds.fromBMSChart(chart)
    // The parser lists the background objects among its notes, without a column.
    const notes = bms.Notes.fromBMSChart(chart).all().filter((note) => note.column !== undefined)
    if (notes.length === 0) fail(`${label}: no notes`)
    const background = chart.objects.all().filter((object) => object.channel === '01')
    for (const object of [...notes.map((note) => ({ value: note.keysound })), ...background]) {
      const name = keysounds.get(object.value)
      if (name === undefined || resolve(folder, name, build.extension) === null) {
        fail(`${label}: no file for keysound ${object.value} (${name})`)
      }
    }
    // The BGM slices: bgm-001, bgm-002, ... each at the first slot of a measure, in order, the
    // first after the chart's lead-in (at least one empty measure).
    const isBgm = (object) => /^bgm(-\d{3,})?\.(ogg|wav)$/.test(keysounds.get(object.value) || '')
    const slices = background.filter(isBgm)
    const bgms = slices.length
    const inOrder = slices.every((object, i) => object.fraction === 0 &&
      keysounds.get(object.value).startsWith(`bgm-${String(i + 1).padStart(3, '0')}.`) &&
      (i === 0 ? object.measure >= 1 : object.measure > slices[i - 1].measure))
    if (build.args.includes('slices') ? bgms === 0 || !inOrder : bgms !== 0) {
      fail(`${label}: the BGM slices are not bgm-001 at slot 0 of a measure after the lead-in and on, each at a measure's start`)
    }
    const played = background.length - bgms
    if (notes.length + played !== build.notes) {
      fail(`${label}: ${notes.length} notes and ${played} in the background, not the ${build.notes} expected`)
    }
    console.log(`${label}: ${notes.length} notes, ${played} in the background, all files present`)
  }
}
process.exit(failures === 0 ? 0 : 1)
