// qs71gen --serve in a real browser: Debian's chromium opens the served page of a copy of the
// demo, scrolls down, and the demo's chime is then written anew. Within the deadline the page
// must have reloaded itself with the chip player of the new chime (the very data a plain
// compile of it puts on its page), at the place it was scrolled to. The browser opens the address
// qs71gen printed, with its token: the server must move the token into a cookie that is HttpOnly
// and SameSite=Strict, take it out of the address bar, and refuse a browser without it. The
// server must listen on 127.0.0.1 alone, ask nothing beyond itself, and end with 0 on SIGTERM.
//
// Usage: node live_page_test.mjs BUILD_DIR EXAMPLES_DIR
// Everything it writes stays in BUILD_DIR/browser-live-test, made afresh each run.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';

import { check, finish, launchChromium } from './browser_check.mjs';

const [buildDir, examplesDir] = process.argv.slice(2).map((p) => path.resolve(p));
const work = path.join(buildDir, 'browser-live-test');
const gen = path.join(buildDir, 'gen', 'qs71gen');
// A sanitizer build runs the compiles several times slower (QS71_BROWSER_SLOWDOWN=10).
const deadlineMs = 2000 * Number(process.env.QS71_BROWSER_SLOWDOWN || 1);

// 0.3 s of a 1 kHz sine at 8 kHz, 16-bit mono: another sound than the demo's chime.
function newChime() {
  const frames = 2400;
  const data = Buffer.alloc(frames * 2);
  for (let i = 0; i < frames; i++) data.writeInt16LE(Math.round(12000 * Math.sin(2 * Math.PI * 1000 * i / 8000)), 2 * i);
  const head = Buffer.alloc(44);
  head.write('RIFF', 0, 'latin1'); head.writeUInt32LE(36 + data.length, 4); head.write('WAVEfmt ', 8, 'latin1');
  head.writeUInt32LE(16, 16); head.writeUInt16LE(1, 20); head.writeUInt16LE(1, 22); head.writeUInt32LE(8000, 24);
  head.writeUInt32LE(16000, 28); head.writeUInt16LE(2, 32); head.writeUInt16LE(16, 34);
  head.write('data', 36, 'latin1'); head.writeUInt32LE(data.length, 40);
  return Buffer.concat([head, data]);
}

function copyDemo(folder) {
  fs.mkdirSync(path.join(folder, 'sounds'), { recursive: true });
  fs.copyFileSync(path.join(examplesDir, 'demo.qs'), path.join(folder, 'demo.qs'));
  for (const f of fs.readdirSync(path.join(examplesDir, 'sounds'))) {
    fs.copyFileSync(path.join(examplesDir, 'sounds', f), path.join(folder, 'sounds', f));
  }
}

// The chip player's data of the first sound on a page a plain compile of the new chime writes.
function plainChipSource() {
  const folder = path.join(work, 'plain');
  copyDemo(folder);
  fs.writeFileSync(path.join(folder, 'sounds', 'chime.wav'), newChime());
  execFileSync(gen, ['--html', 'plain.html', 'demo.qs', 'demo.bin'], { cwd: folder, stdio: 'ignore' });
  const page = fs.readFileSync(path.join(folder, 'plain.html'), 'latin1');
  return (page.match(/<audio id="play-1-chip"[^>]* src="([^"]*)"/) || [])[1];
}

const freePort = () => new Promise((resolve) => {
  const s = net.createServer().listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
});

// The listening sockets on port, as the kernel lists them: [local address, ...].
function listeners(port) {
  const hex = port.toString(16).toUpperCase().padStart(4, '0');
  return ['/proc/net/tcp', '/proc/net/tcp6'].flatMap((file) => fs.readFileSync(file, 'latin1').split('\n').slice(1)
    .map((l) => l.trim().split(/\s+/)).filter((f) => f.length > 3 && f[3] === '0A' && f[1].endsWith(`:${hex}`))
    .map((f) => f[1]));
}

function startServer(folder, port) {
  const child = spawn(gen, ['--serve', String(port), 'demo.qs', 'demo.bin'], { cwd: folder, stdio: ['ignore', 'ignore', 'pipe'] });
  let err = '';
  const compiled = new Promise((resolve) => child.stderr.on('data', (d) => {
    err += d;
    if (err.includes(' compiled ')) resolve((err.match(/serving the page on (http:\S+)/) || [])[1]);
  }));
  return { child, compiled, stderr: () => err };
}

const chipSource = (page) => page.evaluate(() => {
  const a = document.getElementById('play-1-chip');
  return a ? a.getAttribute('src') : null;
}).catch(() => null);  // between two documents while the page reloads

fs.rmSync(work, { recursive: true, force: true });
const served = path.join(work, 'served');
copyDemo(served);
const wanted = plainChipSource();
const port = await freePort();
const server = startServer(served, port);
const address = await server.compiled;
check('the printed address carries a token', /^http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{32}$/.test(address || ''), address);
check('the server listens on 127.0.0.1 alone', JSON.stringify(listeners(port)) === JSON.stringify([`0100007F:${port.toString(16).toUpperCase().padStart(4, '0')}`]),
      JSON.stringify(listeners(port)));

const context = await launchChromium(work);
const page = await context.newPage();
await page.setViewportSize({ width: 1240, height: 500 });
const foreign = [];
page.on('request', (r) => !r.url().startsWith(`http://127.0.0.1:${port}/`) && !r.url().startsWith('data:') && foreign.push(r.url()));
page.on('pageerror', (e) => foreign.push(`page error: ${e.message}`));
await page.goto(address);
check('the token leaves the address bar', page.url() === `http://127.0.0.1:${port}/`, page.url());
const cookies = await context.cookies(`http://127.0.0.1:${port}/`);
const kept = cookies.find((c) => c.name === `qs71gen-${port}`);
check('the token is kept in an HttpOnly, SameSite=Strict cookie',
      kept && kept.httpOnly && kept.sameSite === 'Strict' && address.endsWith(`=${kept.value}`), JSON.stringify(cookies));
const before = await chipSource(page);
await page.evaluate(() => window.scrollTo(0, 700));
await page.waitForTimeout(300);
const scrolled = await page.evaluate(() => window.scrollY);

fs.writeFileSync(path.join(served, 'sounds', 'chime.wav'), newChime());
const written = Date.now();
let now = before;
while (now !== wanted && Date.now() - written < deadlineMs) {
  await page.waitForTimeout(25);
  now = await chipSource(page);
}
const latency = Date.now() - written;
check('the chip player plays the new chime within the deadline', now === wanted && now !== before,
      `after ${latency} ms: ${now === before ? 'still the old chime' : 'not the plain compile\'s data'}`);
console.log(`a new chime reached the page's player after ${latency} ms`);
await page.waitForTimeout(300);
const scrolledAfter = await page.evaluate(() => window.scrollY);
check('the page kept its scroll position', scrolled > 0 && Math.abs(scrolledAfter - scrolled) <= 2,
      `${scrolled} before, ${scrolledAfter} after`);
check('nothing asked for beyond the server', foreign.length === 0, foreign.join(', '));
await page.goto('about:blank');  // the served page's poll no longer runs
await context.clearCookies();
const stranger = await page.goto(`http://127.0.0.1:${port}/`);
check('a browser without the token is refused', stranger.status() === 403 && !(await stranger.text()).includes('play-1-chip'),
      String(stranger.status()));
await context.close();

const ended = new Promise((resolve) => server.child.on('exit', (code, signal) => resolve({ code, signal })));
server.child.kill('SIGTERM');
const end = await ended;
check('SIGTERM ends the server with 0', end.code === 0, JSON.stringify(end) + server.stderr());
finish();
