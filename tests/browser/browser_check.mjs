// What the browser tests share: their checks and count, Debian's chromium as they launch it,
// and the watch on a page for console errors and requests beyond itself.
import { chromium } from 'playwright-core';
import path from 'node:path';

let passed = 0;
let failed = 0;

export function check(name, ok, detail = '') {
  if (ok) passed++;
  else failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${ok || !detail ? '' : `: ${detail}`}`);
}

// The counts, and the exit: 0 only when every check passed.
export function finish() {
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

// The system's chromium, headless, its profile in the test's own folder; no browser download.
export function launchChromium(work) {
  return chromium.launchPersistentContext(path.join(work, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1240, height: 1100 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// What went wrong while the page loads and runs: console errors, page errors, and every
// request that is not the file itself or data it holds.
export function watchProblems(page) {
  const problems = [];
  page.on('console', (m) => m.type() === 'error' && problems.push(`console: ${m.text()}`));
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('request', (r) => !/^(file|data):/.test(r.url()) && problems.push(`request: ${r.url()}`));
  return problems;
}
