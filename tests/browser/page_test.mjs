// The image page in a real browser: Debian's chromium, driven by playwright-core, opens the
// pages that qs71dump and qs71gen write for the demo image straight from disk and checks what a
// person relies on: one map block per sound and per free stretch, players that hold exactly the
// WAV files --extract writes and that play, no console error, no request beyond the page.
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

function makePages() {
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  const image = path.join(work, 'demo.bin');
  // The script names its wave files relative to its own folder.
  // Names as a person types them, relative: the pages show them.
  execFileSync(gen, ['--html', path.join(work, 'gen.html'), 'demo.qs',
                     path.relative(examplesDir, image)],
               { cwd: examplesDir, stdio: ['ignore', 'ignore', 'inherit'] });
  execFileSync(dump, ['--html', 'dump.html', '--extract', 'sounds', 'demo.bin'],
               { cwd: work, stdio: ['ignore', 'ignore', 'inherit'] });
  return JSON.parse(execFileSync(dump, ['--json', image]).toString());
}

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

async function checkPlayers(page, name, report) {
  const players = await page.$$eval('audio', (list) =>
    list.map((a) => ({ wav: a.dataset.wav, src: a.getAttribute('src') })));
  const extractable = report.sounds.filter((s) => s.wav);
  check(`${name}: one player per extracted sound`, players.length === extractable.length,
        `${players.length} players, ${extractable.length} sounds`);
  for (const p of players) {
    const file = path.join(work, 'sounds', p.wav);
    const inPage = Buffer.from(p.src.replace(/^data:audio\/wav;base64,/, ''), 'base64');
    check(`${name}: player ${p.wav} holds the extracted WAV`,
          fs.existsSync(file) && sha256(inPage) === sha256(fs.readFileSync(file)));
  }
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
  await checkMap(page, name, report);
  await checkPlayers(page, name, report);
  await checkPlays(page, name);
  // The hover details: the block under the pointer in words.
  await page.locator('#memory-map .block.sound').first().hover();
  const detail = await page.locator('#map-detail').textContent();
  check(`${name}: hovering a block names its range and size`,
        /0x[0-9A-F]{6}\.\.0x[0-9A-F]{6}, \d+ bytes/.test(detail), detail);
  // Clicking a sound's block leads to its row.
  const block = page.locator('#memory-map .block.sound').last();
  const id = await block.getAttribute('data-sound');
  await block.click();
  const hash = await page.evaluate(() => window.location.hash);
  check(`${name}: clicking a sound's block leads to its row`, hash === `#sound-${id}`, hash);
  await page.locator('#memory-map').screenshot({ path: path.join(work, `${name}-map.png`) });
  check(`${name}: no console error and no request beyond the page`, problems.length === 0,
        problems.join('; '));
  await page.close();
}

const report = makePages();
const context = await launchChromium(work);
try {
  await checkPage(context, path.join(work, 'dump.html'), 'qs71dump', report);
  await checkPage(context, path.join(work, 'gen.html'), 'qs71gen', report);
} finally {
  await context.close();
}
finish();
