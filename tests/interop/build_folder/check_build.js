// Usage: node check_build.js ZENTROWE_CLI SONG.mid WORK_FOLDER
'use strict'

const bms = require('bms')
const fs = require('fs')
const path = require('path')
const { execFileSync } = require('child_process')

const [cli, song, work] = process.argv.slice(2)
const title = '欢乐颂 Ode'
const artist = 'ベートーヴェン'
const builds = [
  { name: 'plain-ogg', extension: '.ogg', args: ['--track', '2'] },
  { name: 'long-wav', extension: '.wav', args: ['--track', '2', '--mode', 'long', '--format', 'wav'] },
  { name: 'percussion', extension: '.ogg', args: ['--track', '3', '--mode', 'percussion'] },
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
  const chart = bms.Compiler.compile(bms.Reader.read(fs.readFileSync(path.join(folder, 'ode-to-joy.bms')))).chart
  const info = bms.SongInfo.fromBMSChart(chart)
  if (info.title !== title) fail(`${build.name}: title read as ${JSON.stringify(info.title)}`)
  if (info.artist !== artist) fail(`${build.name}: artist read as ${JSON.stringify(info.artist)}`)
  const keysounds = bms.Keysounds.fromBMSChart(chart)
  const notes = bms.Notes.fromBMSChart(chart).all()
  if (notes.length === 0) fail(`${build.name}: no notes`)
  const background = chart.objects.all().filter((object) => object.channel === '01')
  for (const object of [...notes.map((note) => ({ value: note.keysound })), ...background]) {
    const name = keysounds.get(object.value)
    if (name === undefined || resolve(folder, name, build.extension) === null) {
      fail(`${build.name}: no file for keysound ${object.value} (${name})`)
    }
  }
  // The BGM slices: bgm-001, bgm-002, ... each alone at the first slot of a measure, in order.
  const slices = background.filter((object) => /^bgm-\d{3,}\.(ogg|wav)$/.test(keysounds.get(object.value) || ''))
  const inOrder = slices.every((object, i) => object.fraction === 0 &&
    keysounds.get(object.value).startsWith(`bgm-${String(i + 1).padStart(3, '0')}.`) &&
    (i === 0 ? object.measure === 0 : object.measure > slices[i - 1].measure))
  if (slices.length === 0 || !inOrder) {
    fail(`${build.name}: the BGM slices are not bgm-001 at slot 0 of measure 000 and on, each at a measure's start`)
  }
  console.log(`${build.name}: ${notes.length} notes, ${background.length} background objects, all files present`)
}
process.exit(failures === 0 ? 0 : 1)
