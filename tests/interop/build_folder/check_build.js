// Usage: node check_build.js ZENTROWE_CLI SONG.mid WORK_FOLDER
'use strict'

const bms = require('bms')
const fs = require('fs')
const path = require('path')
const { execFileSync } = require('child_process')

const [cli, song, work] = process.argv.slice(2)
const title = '欢乐颂 Ode'
const artist = 'ベートーヴェン'
// `notes`: the track's notes, as the track list counts them; every chart of a set plays each of
// them once, in a lane or from the background.
const builds = [
  { name: 'plain-ogg', extension: '.ogg', notes: 62,
    args: ['--track', '2', '--difficulties', 'beginner,normal,hyper,another,insane'] },
  { name: 'long-wav', extension: '.wav', notes: 62, args: ['--track', '2', '--mode', 'long', '--format', 'wav'] },
  { name: 'percussion', extension: '.ogg', notes: 32, args: ['--track', '3', '--mode', 'percussion'] },
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

for (const build of builds) {
  const folder = path.join(work, build.name)
  fs.rmSync(folder, { recursive: true, force: true })
  execFileSync(cli, ['build', song, '--out', folder, '--title', title, '--artist', artist, ...build.args], {
    stdio: ['ignore', 'ignore', 'inherit'],
  })
  const charts = fs.readdirSync(folder).filter((name) => /^ode-to-joy_[BNHAX]\.bms$/.test(name)).sort()
  if (charts.length < 3) fail(`${build.name}: only the charts ${charts.join(', ')}`)
  for (const chartName of charts) {
    const label = `${build.name} ${chartName}`
    const chart = bms.Compiler.compile(bms.Reader.read(fs.readFileSync(path.join(folder, chartName)))).chart
    const info = bms.SongInfo.fromBMSChart(chart)
    if (info.title !== title) fail(`${label}: title read as ${JSON.stringify(info.title)}`)
    if (info.artist !== artist) fail(`${label}: artist read as ${JSON.stringify(info.artist)}`)
    const keysounds = bms.Keysounds.fromBMSChart(chart)
    const notes = bms.Notes.fromBMSChart(chart).all()
    if (notes.length === 0) fail(`${label}: no notes`)
    const background = chart.objects.all().filter((object) => object.channel === '01')
    for (const object of [...notes.map((note) => ({ value: note.keysound })), ...background]) {
      const name = keysounds.get(object.value)
      if (name === undefined || resolve(folder, name, build.extension) === null) {
        fail(`${label}: no file for keysound ${object.value} (${name})`)
      }
    }
    const isBgm = (object) => /^bgm\.(ogg|wav)$/.test(keysounds.get(object.value) || '')
    const bgm = background.filter((object) => object.measure === 0 && object.fraction === 0 && isBgm(object))
    if (bgm.length !== 1 || background.filter(isBgm).length !== 1) {
      fail(`${label}: the BGM is not in slot 0 of measure 000, once`)
    }
    const heard = notes.length + background.length - 1
    if (heard !== build.notes) {
      fail(`${label}: ${notes.length} notes and ${background.length - 1} in the background, not the track's ${build.notes}`)
    }
    console.log(`${label}: ${notes.length} notes, ${background.length - 1} in the background, all files present`)
  }
}
process.exit(failures === 0 ? 0 : 1)
