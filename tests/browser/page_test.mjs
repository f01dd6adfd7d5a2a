// The image page in a real browser: Debian's chromium, driven by playwright-core, opens the
// pages that qs71dump and qs71gen write for the demo image straight from disk and checks what a
// person relies on: one map block per sound and per free stretch, players that hold exactly the
// files they name (the WAV files --extract writes, the source mixed to mono, the prepared copy
// --keep-prepared writes) and that play, downloads named after the sounds, no sideways
// scrolling in a window 1280 pixels wide, a failed compile's page headed FAILED, the warnings
// first on a compile's page, each linked to its sound's card, and a badge on each card for every
// kind of warning its sound has, no console error, no request beyond the page.
//
// Usage: node page_test.mjs BUILD_DIR EXAMPLES_DIR
// Everything it writes stays in BUILD_DIR/browser-test, made afresh each run; the screenshots
// there are the CI artefacts.
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { check, finish, launchChromium, watchProblems } from './browser_check.mjs';

const [buildDir, examplesDir] = process.argv.slice(2).map((p) => path.resolve(p));
const work = path.join(buildDir, 'browser-test');
const gen = path.join(buildDir, 'gen', 'qs71gen');
const dump = path.join(buildDir, 'tools', 'qs71dump', 'qs71dump');

const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

// The demo compiled with a preparation option, so that its page has all three players, and once
// more onto a part too small for it, which fails.
function makePages() {
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(path.join(work, 'prepared'), { recursive: true });
  const image = path.join(work, 'demo.bin');
  // The script names its wave files relative to its own folder.
  // Names as a person types them, relative: the pages show them.
  execFileSync(gen, ['--keep-prepared', path.relative(examplesDir, path.join(work, 'prepared')),
                     '--html', path.join(work, 'gen.html'), 'demo.qs', path.relative(examplesDir, image)],
               { cwd: examplesDir, stdio: ['ignore', 'ignore', 'inherit'] });
  execFileSync(dump, ['--html', 'dump.html', '--extract', 'sounds', 'demo.bin'],
               { cwd: work, stdio: ['ignore', 'ignore', 'inherit'] });
  const small = path.join(work, 'small.qs');
  fs.writeFileSync(small, fs.readFileSync(path.join(examplesDir, 'demo.qs'), 'latin1')
    .replace(/\$FILESIZE\s*=\s*40000h/, '$FILESIZE = 1000h'), 'latin1');
  try {
    execFileSync(gen, ['--html', path.join(work, 'failed.html'), small, path.join(work, 'small.bin')],
                 { cwd: examplesDir, stdio: ['ignore', 'ignore', 'ignore'] });
  } catch {
    // It fails: that is the point.
  }
  makeWarnedPage();
  return JSON.parse(execFileSync(dump, ['--json', image]).toString());
}

// A 16-bit mono WAV file of the samples (-1 to 1) at rate.
function wavBytes(samples, rate) {
  const data = Buffer.alloc(2 * samples.length);
  samples.forEach((v, i) => data.writeInt16LE(Math.max(-32768, Math.min(32767, Math.round(v * 32767))), 2 * i));
  const head = Buffer.alloc(44);
  head.write('RIFF', 0, 'latin1');
  head.writeUInt32LE(36 + data.length, 4);
  head.write('WAVEfmt ', 8, 'latin1');
  head.writeUInt32LE(16, 16);
  head.writeUInt16LE(1, 20);
  head.writeUInt16LE(1, 22);
  head.writeUInt32LE(rate, 24);
  head.writeUInt32LE(rate * 2, 28);
  head.writeUInt16LE(2, 32);
  head.writeUInt16LE(16, 34);
  head.write('data', 36, 'latin1');
  head.writeUInt32LE(data.length, 40);
  return Buffer.concat([head, data]);
}

// Takes that need the designer: one clipped (and hummed), one with a mains hum, one padded with
// a second of silence at each end, one that is fine.
const kWarnedTakes = {
  clipped: { badges: ['clipped', 'hum'], at: (t) => Math.max(-1, Math.min(1, 1.6 * Math.sin(2 * Math.PI * 440 * t)))
                                                      + 0.3 * Math.sin(2 * Math.PI * 50 * t) },
  hum: { badges: ['hum'], at: (t) => 0.2 * Math.sin(2 * Math.PI * 330 * t) + 0.2 * Math.sin(2 * Math.PI * 50 * t) },
  padded: { badges: ['silence left'], at: (t) => (t > 1 && t < 1.5 ? 0.3 * Math.sin(2 * Math.PI * 500 * t) : 0) },
  fine: { badges: [], at: (t) => 0.25 * Math.sin(2 * Math.PI * 700 * t) },
};

function makeWarnedPage() {
  const dir = path.join(work, 'warned');
  fs.mkdirSync(dir, { recursive: true });
  let script = '.GLOBAL $FILESIZE = 40000h\n';
  let section = 1;
  for (const [name, take] of Object.entries(kWarnedTakes)) {
    const seconds = name === 'padded' ? 2.5 : 1.5;
    const samples = Array.from({ length: seconds * 16000 }, (_, i) => take.at(i / 16000));
    fs.writeFileSync(path.join(dir, `${name}.wav`), wavBytes(samples, 16000));
    script += `.PCM16 ${name} = "${name}.wav"\n.SECTION [${section++}] $GROUPS = ${name}(16000):0\n`;
  }
  fs.writeFileSync(path.join(dir, 'warned.qs'), script);
  execFileSync(gen, ['--html', 'warned.html', 'warned.qs', 'warned.bin'], { cwd: dir, stdio: ['ignore', 'ignore', 'ignore'] });
}

// A WAV file's samples mixed to mono on the 16-bit scale, as the compile reads them: the channel
// sum divided by their count, truncated; 8-bit samples as (byte - 128) * 256.
function monoSamples(bytes) {
  let fmt = null;
  for (let at = 12; at + 8 <= bytes.length;) {
    const id = bytes.toString('latin1', at, at + 4);
    const size = bytes.readUInt32LE(at + 4);
    if (id === 'fmt ') fmt = { channels: bytes.readUInt16LE(at + 10), bits: bytes.readUInt16LE(at + 22) };
    if (id === 'data' && fmt) {
      const width = fmt.bits / 8;
      const out = [];
      for (let f = at + 8; f + width * fmt.channels <= at + 8 + size; f += width * fmt.channels) {
        let sum = 0;
        for (let c = 0; c < fmt.channels; c++) {
          sum += width === 1 ? bytes[f + c] - 128 : bytes.readInt16LE(f + 2 * c);
        }
        out.push(Math.trunc(sum / fmt.channels) * (width === 1 ? 256 : 1));
      }
      return out;
    }
    at += 8 + size + (size & 1);
  }
  return [];
}

const sameSamples = (a, b) => a.length === b.length && a.every((v, i) => v === b[i]);

// The blocks the map must hold: every sound with data, every free stretch.
async function checkMap(page, name, report) {
  const withData = report.sounds.filter((s) => s.length > 0 && s.file_pos !== undefined &&
                                              !['SILENCE', 'MUTE'].includes(s.kind));
  const soundBlocks = await page.$$eval('#memory-map .block.sound',
                                        (blocks) => blocks.map((b) => Number(b.dataset.sound)));
  check(`${name}: one map block per sound with data`,
        JSON.stringify(soundBlocks.sort((a, b) => a - b)) ===
            JSON.stringify(withData.map((s) => s.id).sort((a, b) => a - b)),
        `blocks ${soundBlocks}, sounds ${withData.map((s) => s.id)}`);
  const freeBlocks = await page.locator('#memory-map .block.free').count();
  check(`${name}: one map block per free stretch`, freeBlocks === report.free.length,
        `${freeBlocks} blocks, ${report.free.length} stretches`);
}

const dataOf = (src) => Buffer.from(src.replace(/^data:audio\/wav;base64,/, ''), 'base64');

// Every player, and the file its download link names.
async function playersOf(page) {
  return page.$$eval('audio', (list) => list.map((a) => {
    const link = document.querySelector(`a[data-player="${a.id}"]`);
    const card = a.closest('section.sound');
    const row = [...card.querySelectorAll('.figures tr')].find((r) => r.cells[0].textContent === 'wave file');
    return { id: a.id, wav: a.dataset.wav, src: a.getAttribute('src'), download: link && link.download,
             href: link && link.getAttribute('href'), card: card.id,
             title: card.querySelector('h3').textContent, waveFile: row && row.cells[1].textContent };
  }));
}

// The chip's players hold the WAV files --extract writes; qs71dump names them as it does, qs71gen
// after the script's sounds.
async function checkPlayers(page, name, report) {
  const players = await playersOf(page);
  const chip = players.filter((p) => p.id.endsWith('-chip'));
  const extractable = report.sounds.filter((s) => s.wav);
  check(`${name}: one chip player per extracted sound`, chip.length === extractable.length,
        `${chip.length} players, ${extractable.length} sounds`);
  for (const p of chip) {
    const id = Number(p.card.replace('sound-', ''));
    const extracted = extractable.find((s) => s.id === id);
    const file = path.join(work, 'sounds', extracted ? extracted.wav : '');
    check(`${name}: player ${p.wav} holds the extracted WAV`,
          fs.existsSync(file) && sha256(dataOf(p.src)) === sha256(fs.readFileSync(file)));
    const expected = name === 'qs71dump' ? extracted.wav : `${p.title.replace(/^#\d+ /, '')}.wav`;
    check(`${name}: player ${p.wav} downloads as ${expected}`,
          p.wav === expected && p.download === expected && p.href === p.src, JSON.stringify(p.download));
  }
}

// qs71gen's source and prepared players: the source's samples mixed to mono, the prepared copy's.
async function checkCompilePlayers(page, name, prepared) {
  const players = await playersOf(page);
  const withFile = await page.$$eval('section.sound .figures th', (list) =>
    list.filter((th) => th.textContent === 'wave file').length);
  for (const what of ['source', 'prepared']) {
    const list = players.filter((p) => p.id.endsWith(`-${what}`));
    check(`${name}: a ${what} player per sound with a wave file`,
          list.length === (what === 'prepared' && !prepared ? 0 : withFile), `${list.length} of ${withFile}`);
    for (const p of list) {
      const sound = p.wav.replace(new RegExp(`-${what}\\.wav$`), '');
      const file = what === 'source' ? path.join(examplesDir, p.waveFile)
                                     : path.join(work, 'prepared', `${sound}.wav`);
      check(`${name}: ${p.wav} plays ${path.relative(work, file)}`,
            fs.existsSync(file) && sameSamples(monoSamples(dataOf(p.src)), monoSamples(fs.readFileSync(file))) &&
            p.download === p.wav && p.href === p.src);
    }
  }
}

// The page in a window 1280 pixels wide: nothing beyond its right edge.
async function checkWidth(page, name) {
  await page.setViewportSize({ width: 1280, height: 1100 });
  const width = await page.evaluate(() => document.documentElement.scrollWidth);
  check(`${name}: no sideways scrolling at 1280 px`, width <= 1280, `${width} px wide`);
}

// Pressing play: the player's time moves on and no error event comes.
async function checkPlays(page, name) {
  const player = page.locator('audio').first();
  await player.evaluate((a) => {
    window.playerErrors = 0;
    a.addEventListener('error', () => window.playerErrors++);
  });
  await player.click();
  await player.evaluate((a) => a.play());
  await page.waitForFunction(() => document.querySelector('audio').currentTime > 0,
                             null, { timeout: 10000 }).catch(() => {});
  const state = await player.evaluate((a) => ({ time: a.currentTime, error: window.playerErrors }));
  check(`${name}: pressing play plays`, state.time > 0 && state.error === 0, JSON.stringify(state));
}

async function checkPage(context, file, name, report) {
  const page = await context.newPage();
  const problems = watchProblems(page);
  await page.goto(pathToFileURL(file).href);
  // The top of the page as it opens: the picture in docs/image-page.png.
  await page.screenshot({ path: path.join(work, `${name}-page.png`) });
  await checkWidth(page, name);
  await checkMap(page, name, report);
  await checkPlayers(page, name, report);
  if (name === 'qs71gen') await checkCompilePlayers(page, name, true);
  await checkPlays(page, name);
  // The hover details: the block under the pointer in words.
  await page.locator('#memory-map .block.sound').first().hover();
  const detail = await page.locator('#map-detail').textContent();
  check(`${name}: hovering a block names its range and size`,
        /0x[0-9A-F]{6}\.\.0x[0-9A-F]{6}, \d+ bytes/.test(detail), detail);
  // Clicking a sound's block leads to its card.
  const block = page.locator('#memory-map .block.sound').last();
  const id = await block.getAttribute('data-sound');
  await block.click();
  const hash = await page.evaluate(() => window.location.hash);
  check(`${name}: clicking a sound's block leads to its card`, hash === `#sound-${id}`, hash);
  await page.locator('#memory-map').screenshot({ path: path.join(work, `${name}-map.png`) });
  check(`${name}: no console error and no request beyond the page`, problems.length === 0,
        problems.join('; '));
  await page.close();
}

// A failed compile: its page says so, and still plays each sound's source.
async function checkFailedPage(context, file) {
  const name = 'failed qs71gen';
  const page = await context.newPage();
  const problems = watchProblems(page);
  await page.goto(pathToFileURL(file).href);
  await page.screenshot({ path: path.join(work, 'failed-page.png') });
  await checkWidth(page, name);
  const head = await page.locator('#failed').textContent();
  check(`${name}: the page is headed FAILED`, head.startsWith('FAILED'), head);
  const advice = await page.locator('ul.warn li').allTextContents();
  check(`${name}: it gives the advice on fitting the part`, advice.some((l) => l.includes('to fit this part')),
        advice.join(' | '));
  await checkCompilePlayers(page, name, false);
  check(`${name}: no console error and no request beyond the page`, problems.length === 0,
        problems.join('; '));
  await page.close();
}

// The compile's warnings lead its page: above the map, each about a sound linked to that sound's
// card, whose heading carries a badge for each kind of warning the sound has, no more.
async function checkWarnings(context, file) {
  const name = 'qs71gen warnings';
  const page = await context.newPage();
  const problems = watchProblems(page);
  await page.goto(pathToFileURL(file).href);
  await page.screenshot({ path: path.join(work, 'warned-page.png') });
  await checkWidth(page, name);
  const top = await page.evaluate(() => ({
    warnings: document.getElementById('warnings').getBoundingClientRect().top,
    map: document.getElementById('map').getBoundingClientRect().top,
  }));
  check(`${name}: the warnings come before the map`, top.warnings < top.map, JSON.stringify(top));
  const items = await page.$$eval('#warnings + ul.warn li', (list) => list.map((li) => {
    const link = li.querySelector('a');
    const badge = li.querySelector('.badge');
    return { text: li.textContent, card: link && link.getAttribute('href'), sound: link && link.textContent,
             badge: badge && badge.textContent };
  }));
  const cards = await page.$$eval('section.sound', (list) => list.map((c) => ({
    id: `#${c.id}`, title: c.querySelector('h3').firstChild.textContent.replace(/^#\d+ /, ''),
    badges: [...c.querySelectorAll('h3 .badge')].map((b) => b.textContent),
  })));
  check(`${name}: every warning about a sound links to its card`,
        items.length > 0 && items.every((w) => w.card && cards.some((c) => c.id === w.card && c.title === w.sound)),
        JSON.stringify(items));
  for (const [sound, take] of Object.entries(kWarnedTakes)) {
    const card = cards.find((c) => c.title === sound);
    const linked = [...new Set(items.filter((w) => w.sound === sound && w.badge).map((w) => w.badge))];
    check(`${name}: ${sound}'s card has the badges ${take.badges.join(', ') || 'none'}`,
          card && JSON.stringify([...card.badges].sort()) === JSON.stringify([...take.badges].sort()) &&
              JSON.stringify([...linked].sort()) === JSON.stringify([...card.badges].sort()),
          JSON.stringify(card));
  }
  const first = page.locator('#warnings + ul.warn li a').first();
  const target = await first.getAttribute('href');
  await first.click();
  const hash = await page.evaluate(() => window.location.hash);
  check(`${name}: a warning's link leads to its card`, hash === target, `${hash} for ${target}`);
  check(`${name}: no console error and no request beyond the page`, problems.length === 0, problems.join('; '));
  await page.close();
}

const report = makePages();
const context = await launchChromium(work);
try {
  await checkPage(context, path.join(work, 'dump.html'), 'qs71dump', report);
  await checkPage(context, path.join(work, 'gen.html'), 'qs71gen', report);
  await checkFailedPage(context, path.join(work, 'failed.html'));
  await checkWarnings(context, path.join(work, 'warned', 'warned.html'));
} finally {
  await context.close();
}
finish();
