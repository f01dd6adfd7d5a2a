// The shift report in a real browser: three production runs of the real qs71prog on emulated
// programmers (two operators, a part that fails its verify, a programmer whose cable is pulled
// and put back) record a trace; qs71prog --report writes its page, which Debian's chromium
// opens from disk. Every figure the page shows is checked against the same figure counted here
// straight from the trace with the sqlite3 tool (and the failing blocks from the CSV log of the
// same runs), and the page must load nothing and log no error.
//
// Usage: node shift_report_test.mjs BUILD_DIR EXAMPLES_DIR
// Everything it writes stays in BUILD_DIR/browser-report-test, made afresh each run; the
// screenshot and the printed PDF there are the CI artefacts.
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { pathToFileURL } from 'node:url';

import { check, finish, launchChromium, watchProblems } from './browser_check.mjs';

const [buildDir, examplesDir] = process.argv.slice(2).map((p) => path.resolve(p));
const work = path.join(buildDir, 'browser-report-test');
const gen = path.join(buildDir, 'gen', 'qs71gen');
const prog = path.join(buildDir, 'tools', 'qs71prog', 'qs71prog');
const trace = path.join(work, 'trace.db');
const log = path.join(work, 'parts.csv');

const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

// Blank parts part1.otp.. in folder, as the emulated programmer makes a fresh one.
function makeParts(folder, count) {
  fs.mkdirSync(folder, { recursive: true });
  for (let i = 1; i <= count; i++) {
    // Its note on the dry run is no news here; a failure still throws with it.
    execFileSync(prog, [`--emulate=${path.join(folder, `part${i}.otp`)}`, '--identify'],
                 { stdio: ['ignore', 'ignore', 'pipe'] });
  }
}

function production(image, operator, extra) {
  return ['--emulate', '--write', image, '--production', '--log', log, '--trace', trace,
          '--operator', operator, ...extra];
}

// QS71_EMU_OPERATOR=0: each finished part is taken out of its socket, as an operator would.
const emulation = (sockets, programmers) => ({
  ...process.env, QS71_EMU_SOCKET: sockets, QS71_EMU_PROGRAMMERS: String(programmers),
  QS71_EMU_OPERATOR: '0' });

// Two programmers, three parts each; the second programmer's second part has a cell that will
// not program where the image has data, so it fails its verify.
function runWithAFailure(image, operator) {
  const sockets = path.join(work, `sockets-${operator}`);
  for (const p of ['1', '2']) makeParts(path.join(sockets, p), 3);
  const bytes = fs.readFileSync(image);
  const cell = bytes.findIndex((b) => b !== 0xff);
  fs.writeFileSync(path.join(sockets, '2', 'part2.faults'), `stuck:${cell}`);
  const run = spawnSync(prog, production(image, operator, ['--all', '--count', '3']),
                        { env: emulation(sockets, 2), encoding: 'utf8' });
  check(`run of ${operator}: ends with the failed part's exit`, run.status === 8,
        `exit ${run.status}: ${run.stderr}`);
}

// One programmer whose cable is pulled at its first part: it is lost until the fault is gone,
// then makes the part.
async function runWithALoss(image, operator) {
  const sockets = path.join(work, `sockets-${operator}`);
  makeParts(sockets, 1);
  fs.writeFileSync(path.join(sockets, 'part1.faults'), 'disconnect:1');
  const child = spawn('sh', ['-c', 'exec "$0" "$@" 2>&1', prog,
                             ...production(image, operator, ['--count', '1'])],
                      { env: emulation(sockets, 1) });
  const ended = new Promise((resolve) => child.on('close', resolve));
  let mended = false;
  for await (const line of readline.createInterface({ input: child.stdout })) {
    if (!mended && line.includes('LOST')) {
      // Long enough to be seen in the figures, well below their tenth of a second.
      await new Promise((resolve) => setTimeout(resolve, 1500));
      fs.rmSync(path.join(sockets, 'part1.faults'));
      mended = true;
    }
  }
  const status = await ended;
  check(`run of ${operator}: the lost programmer came back and made its part`,
        mended && status === 0, `lost seen: ${mended}, exit ${status}`);
}

function sql(query) {
  const out = execFileSync('sqlite3', ['-json', trace, query]).toString().trim();
  return out === '' ? [] : JSON.parse(out);
}

function yieldText(pass, judged) {
  return judged > 0 ? `${(100 * pass / judged).toFixed(1)}%` : '-';
}

// The tallies of a grouping as the page's tables give them: key -> [parts, pass, fail, yield].
function tallies(rows) {
  const byKey = {};
  for (const r of rows) {
    byKey[r.key] = [String(r.parts), String(r.pass), String(r.fail),
                    yieldText(r.pass, r.pass + r.fail + r.unverified)];
  }
  return byKey;
}

const kTally = `COUNT(*) AS parts, SUM(result = 'pass') AS pass, SUM(result = 'fail') AS fail,
                SUM(result = 'unverified') AS unverified`;

// The figures, counted from the trace and the log by this test alone.
function expectedFigures() {
  const failedRows = fs.readFileSync(log, 'utf8').split('\n').slice(1)
    .filter((line) => line.includes(',fail,'));
  const blocks = {};
  for (const line of failedRows) {
    for (const b of line.match(/0x[0-9A-F]{6}-0x[0-9A-F]{6}/g) ?? []) blocks[b] = (blocks[b] ?? 0) + 1;
  }
  return {
    hours: tallies(sql(`SELECT substr(COALESCE(ended_at, started_at), 1, 13) AS key, ${kTally}
                        FROM parts GROUP BY key`)),
    programmers: tallies(sql(`SELECT programmer AS key, ${kTally} FROM parts GROUP BY key`)),
    operators: tallies(sql(`SELECT r.operator_name AS key, ${kTally} FROM parts p
                            JOIN runs r ON p.run = r.id GROUP BY key`)),
    causes: Object.fromEntries(sql(`SELECT status, COUNT(*) AS n FROM parts WHERE result = 'fail'
                                    GROUP BY status`).map((r) => [r.status, String(r.n)])),
    blocks: Object.fromEntries(Object.entries(blocks).map(([b, n]) => [b, String(n)])),
    runs: String(sql('SELECT COUNT(*) AS n FROM runs')[0].n),
    lots: Object.fromEntries(sql(`SELECT j.hash,
                                  (SELECT COUNT(*) FROM parts p WHERE p.job = j.hash
                                   AND p.result IN ('pass', 'unverified')) AS good,
                                  (SELECT COUNT(*) FROM parts p WHERE p.job = j.hash
                                   AND p.result IN ('fail', 'aborted')) AS scrap FROM jobs j`)
                             .map((r) => [r.hash, [String(r.good), String(r.scrap)]])),
    lost: lostSeconds(),
  };
}

// From each "lost" to the next "back" of that programmer in that run, or to the run's end.
function lostSeconds() {
  const ends = Object.fromEntries(sql('SELECT id, ended_at FROM runs').map((r) => [r.id, r.ended_at]));
  const away = {};
  const seconds = {};
  for (const e of sql(`SELECT run, programmer, kind, at FROM events
                       WHERE kind IN ('lost', 'back') ORDER BY run, seq`)) {
    const who = `${e.run} ${e.programmer}`;
    if (e.kind === 'lost' && !(who in away)) away[who] = Date.parse(e.at);
    if (e.kind === 'back' && who in away) {
      seconds[e.programmer] = (seconds[e.programmer] ?? 0) + (Date.parse(e.at) - away[who]) / 1000;
      delete away[who];
    }
  }
  for (const [who, since] of Object.entries(away)) {
    const [run, programmer] = who.split(' ');
    seconds[programmer] = (seconds[programmer] ?? 0) + (Date.parse(ends[run]) - since) / 1000;
  }
  return seconds;
}

// A table's rows as the page gives them: data-key -> the cells of the named figures.
function readTable(page, id, figures) {
  return page.$$eval(`#${id}-table tr[data-key]`, (rows, names) => Object.fromEntries(
    rows.map((r) => [r.dataset.key,
                     names.map((n) => r.querySelector(`[data-figure="${n}"]`)?.textContent)])),
  figures);
}

async function checkFigures(page, expected) {
  const tallyFigures = ['parts', 'pass', 'fail', 'yield'];
  for (const id of ['programmers', 'operators']) {
    const shown = await readTable(page, id, tallyFigures);
    check(`${id}: parts, pass, fail and yield as the trace counts them`,
          same(shown, expected[id]), `page ${JSON.stringify(shown)}, trace ${JSON.stringify(expected[id])}`);
  }
  // The page also lists the empty hours between; every hour with parts must agree.
  const hours = await readTable(page, 'hours', tallyFigures);
  const withParts = Object.fromEntries(Object.entries(hours).filter(([, c]) => c[0] !== '0'));
  check('hours: parts and yield per hour as the trace counts them', same(withParts, expected.hours),
        `page ${JSON.stringify(withParts)}, trace ${JSON.stringify(expected.hours)}`);
  for (const id of ['causes', 'blocks']) {
    const shown = Object.fromEntries(Object.entries(await readTable(page, id, ['count']))
                                     .map(([k, c]) => [k, c[0]]));
    check(`${id}: each failure counted`, same(shown, expected[id]),
          `page ${JSON.stringify(shown)}, counted ${JSON.stringify(expected[id])}`);
  }
  const summary = (await readTable(page, 'summary', ['runs']))['all'];
  check('summary: the runs', same(summary, [expected.runs]), `${summary} vs ${expected.runs}`);
  const lots = await readTable(page, 'lots', ['good', 'scrap']);
  check('lots: good parts and scrap per job', same(lots, expected.lots),
        `page ${JSON.stringify(lots)}, trace ${JSON.stringify(expected.lots)}`);
  const lost = await readTable(page, 'lost', ['seconds']);
  const lostOk = Object.keys(lost).length === Object.keys(expected.lost).length &&
    Object.entries(expected.lost).every(([k, s]) => s >= 1 && Math.abs(Number(lost[k]?.[0]) - s) <= 0.051);
  check('lost: each programmer\'s time lost', lostOk,
        `page ${JSON.stringify(lost)}, trace ${JSON.stringify(expected.lost)}`);
}

// The charts hold the tables' numbers: a bar per programmer at its yield.
async function checkCharts(page, expected) {
  const bars = await page.$$eval('#programmers-chart rect', (r) => r.map((b) => Number(b.dataset.value)));
  const yields = Object.keys(expected.programmers).sort()
    .map((k) => Number.parseFloat(expected.programmers[k][3]));
  check('programmers chart: a bar per programmer at its yield', same(bars, yields),
        `bars ${bars}, yields ${yields}`);
  const svgs = await page.locator('svg.chart').count();
  check('every section with figures has its chart', svgs === 8, `${svgs} charts`);
}

async function checkPage(context, file, expected) {
  const page = await context.newPage();
  const problems = watchProblems(page);
  await page.goto(pathToFileURL(file).href);
  await page.screenshot({ path: path.join(work, 'report-page.png'), fullPage: true });
  await checkFigures(page, expected);
  await checkCharts(page, expected);
  await page.emulateMedia({ media: 'print' });
  const pdf = await page.pdf({ path: path.join(work, 'report-page.pdf'), format: 'A4' });
  check('the page prints', pdf.length > 1000, `${pdf.length} bytes`);
  check('no console error and no request beyond the page', problems.length === 0,
        problems.join('; '));
  await page.close();
}

fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
const image = path.join(work, 'demo.bin');
execFileSync(gen, ['demo.qs', image], { cwd: examplesDir, stdio: ['ignore', 'ignore', 'inherit'] });
runWithAFailure(image, 'ann');
runWithAFailure(image, 'bob');
await runWithALoss(image, 'cy');
const page = path.join(work, 'shift.html');
const made = spawnSync(prog, ['--report', page, '--trace', trace], { encoding: 'utf8' });
check('qs71prog --report writes the page', made.status === 0 && fs.existsSync(page),
      `exit ${made.status}: ${made.stderr}`);
const text = spawnSync(prog, ['--report', '-', '--trace', trace], { encoding: 'utf8' });
check('qs71prog --report - prints the text', text.status === 0 && text.stdout.startsWith('Shift report'),
      `exit ${text.status}: ${text.stderr}`);
const expected = expectedFigures();
const context = await launchChromium(work);
try {
  if (fs.existsSync(page)) await checkPage(context, page, expected);
} finally {
  await context.close();
}
finish();
