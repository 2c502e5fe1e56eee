// `kztarn serve` in a real browser: the page against the built-in simulator,
// driven as a driver would drive it (mouse clicks, typing). Checks that a
// ring shows the caller's name from the downloaded phonebook within 300 ms,
// that Answer on the page reaches the module, and that search finds a
// contact; keeps a screenshot of each screen and the measured latencies.
//
//   node tests/browser/serve_browser.mjs KZTARN OUTDIR [CHROMIUM]
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { Browser } from './cdp.mjs';

const [kztarn, outDir, chromium = 'chromium'] = process.argv.slice(2);
const RING_BOUND_MS = 300;
const RINGS = 10;
const SCREEN = { width: 1720, height: 770 };

function startServe(root) {
  const proc = spawn(kztarn, ['serve', '--root', root, '--listen', '127.0.0.1:0'], { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('kztarn serve did not start: ' + out)), 10000);
    proc.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/(http:\/\/127\.0\.0\.1:\d+\/)/);
      if (m) { clearTimeout(timer); resolve({ proc, url: m[1] }); }
    });
    proc.stderr.on('data', (d) => { out += d; });
    proc.on('exit', (code) => reject(new Error('kztarn serve exited with ' + code + ': ' + out)));
  });
}

const text = (sel) => `(document.querySelector(${JSON.stringify(sel)})?.textContent || '')`;
// The footer shows this command's success.
const succeeded = (command) => `(document.getElementById('outcome').dataset.ok === 'yes' && ${text('#outcome-text')}.startsWith('${command}'))`;

// From sending the ring until the call screen shows the name: performance.now()
// in the page, around the simulated phone's ring command.
const RING = `new Promise((resolve) => {
  const t0 = performance.now();
  const shown = () => !document.getElementById('call').hidden && document.getElementById('call-name').textContent === 'John Doe';
  const obs = new MutationObserver(() => { if (shown()) { obs.disconnect(); resolve(performance.now() - t0); } });
  obs.observe(document.getElementById('unit'), { subtree: true, childList: true, characterData: true, attributes: true });
  setTimeout(() => { obs.disconnect(); resolve(-1); }, 3000);
  window.kz.command('phone ring', ['+49 89 765430']);
})`;

async function main() {
  mkdirSync(outDir, { recursive: true });
  for (const f of readdirSync(outDir)) if (f.startsWith('serve-')) rmSync(join(outDir, f));
  const root = mkdtempSync(join(tmpdir(), 'kztarn-serve-'));
  const started = Date.now();
  const serve = await startServe(root);
  const browser = await Browser.launch(chromium, SCREEN);
  const shots = [];
  const shot = async (name) => {
    const file = join(outDir, `serve-${name}.png`);
    writeFileSync(file, await browser.screenshot());
    shots.push(file);
  };
  const step = (name) => console.log(`[${((Date.now() - started) / 1000).toFixed(1)} s] ${name}`);
  // The module's confirmation of a command, shown in the footer. A loaded machine
  // (the sanitizer builds beside other work) takes seconds; the footer's text
  // says what became of the command when it never succeeds.
  const tookIt = async (command, what) => {
    try {
      await browser.waitFor(succeeded(command), 10000, what);
    } catch (e) {
      throw new Error(`${e.message} (the footer says: ${await browser.eval(text('#outcome-text'))})`);
    }
  };
  try {
    await browser.goto(serve.url);
    await browser.waitFor(`${text('#sb-link-text')} === 'module ready'`, 5000, 'the module ready in the status bar');
    step('page loaded, module ready');

    // Phones: search, pair the demo phone with its PIN.
    await browser.click('[data-screen="phones"]');
    await browser.click('#phones-scan');
    await browser.waitFor(`${text('#found-list')}.includes('Pixel Demo')`, 8000, 'Pixel Demo found');
    await browser.click('#found-list li:first-child button');
    await browser.waitFor(`${text('#sb-phone')} === 'Pixel Demo'`, 8000, 'Pixel Demo connected');
    await browser.waitFor(`${text('#slot-list')}.includes('Pixel Demo')`, 10000, 'Pixel Demo in a slot');
    await shot('phones');
    step('paired and connected');

    // Contacts: download, then search as you type.
    await browser.click('[data-screen="contacts"]');
    await browser.click('#contact-download');
    await browser.waitFor(`document.querySelectorAll('#contact-list li').length === 3`, 8000, 'three contacts');
    await browser.type('#contact-search', 'eri');
    await browser.waitFor(`document.querySelectorAll('#contact-list li').length === 1`, 2000, 'one match for "eri"');
    assert.match(await browser.eval(text('#contact-list')), /Erika Mustermann/);
    await shot('contacts');
    await browser.eval(`(() => { const s = document.getElementById('contact-search'); s.value = '9876'; s.dispatchEvent(new Event('input')); })()`);
    await browser.waitFor(`${text('#contact-list')}.includes('Erika')`, 2000, 'a match by digits');
    step('contacts downloaded and found');

    // The ring, measured; the first one is answered from the page.
    const latencies = [];
    for (let i = 0; i < RINGS; ++i) {
      const ms = await browser.eval(RING);
      assert.ok(ms >= 0, 'the caller\'s name did not appear within 3 s of ring ' + (i + 1));
      latencies.push(ms);
      if (i === 0) {
        await shot('incoming-call');
        await browser.click('#btn-answer');
        await tookIt('answer', 'the module took the answer');
        await browser.waitFor(`${text('#call-state')} === 'On call'`, 10000, 'the call active');
        await browser.click('#btn-keypad');
        await browser.click('#dtmf-keys .key:nth-child(5)');
        await tookIt('dtmf', 'the module took the DTMF tone');
        await browser.click('#btn-keypad');
        // A second call waits; the driver switches to it, the first is held.
        await browser.click('#sim-waiting');
        await tookIt('phone waiting', 'the second call');
        await browser.click('#btn-switch');
        await browser.waitFor(`${text('#call-name')} === 'Office' && ${text('#call-held')} === 'On hold: John Doe'`, 10000,
          'the second call taken, the first held');
        await tookIt('switch', 'the module took the switch');
        await shot('active-call');
        await browser.click('#btn-end');
        await tookIt('hangup', 'the second call ended');
        step('answered from the page, switched to a second call');
      }
      await browser.eval(`window.kz.command('phone hangup')`);
      await browser.waitFor(`document.getElementById('call').hidden`, 10000, 'the call screen closed');
    }
    latencies.sort((a, b) => a - b);
    const figures = {
      rings: latencies.length,
      minMs: +latencies[0].toFixed(1),
      medianMs: +latencies[Math.floor(latencies.length / 2)].toFixed(1),
      maxMs: +latencies[latencies.length - 1].toFixed(1),
    };
    // Library event to page, where events carry their arrival time (ms clock).
    const delays = (await browser.eval('window.kz.callDelays.slice()')).sort((a, b) => a - b);
    if (delays.length) figures.callEventToPageMs = { events: delays.length, median: delays[Math.floor(delays.length / 2)], max: delays[delays.length - 1] };
    step(`ring to caller's name on screen: ${JSON.stringify(figures)}`);
    // Nine of ten within the bound (every ring showed, above): one ring that
    // meets a scheduler hiccup beside a parallel test run is not a failure.
    const ninth = latencies[Math.ceil(latencies.length * 0.9) - 1];
    assert.ok(ninth < RING_BOUND_MS, `rings took up to ${ninth} ms to show (bound ${RING_BOUND_MS} ms)`);

    // Music, dial pad with recents, settings: a screenshot each.
    // The library opens the media channel a few seconds after A2DP connects.
    await browser.click('[data-screen="music"]');
    await browser.click('#music-source');
    await browser.click('#music-play');
    await browser.waitFor(`${text('#music-state')} === 'Playing'`, 8000, 'music playing');
    await browser.waitFor(`${text('#music-title')} !== 'No track'`, 8000, 'the track shown');
    await shot('music');
    await browser.click('[data-screen="dial"]');
    await browser.waitFor(`document.querySelectorAll('#recent-list li').length > 0`, 5000, 'recent calls');
    await browser.type('#dial-number', '0301234567');
    await shot('dial');
    await browser.click('[data-screen="settings"]');
    await browser.waitFor(`${text('#set-version')} !== '-'`, 10000, 'the module version');
    await shot('settings');

    // A refusal shows too: a PIN that is not four digits.
    await browser.eval(`window.kz.command('pin', ['12a4'])`);
    await browser.waitFor(`document.getElementById('outcome').dataset.ok === 'no' && ${text('#outcome-text')}.includes('four digits')`, 2000, 'the refusal shown');
    step('screens captured');

    writeFileSync(join(outDir, 'serve-latency.json'), JSON.stringify({ ...figures, samplesMs: latencies }, null, 2) + '\n');
    console.log('screenshots: ' + shots.join(' '));
    console.log(`browser test passed in ${((Date.now() - started) / 1000).toFixed(1)} s`);
  } catch (e) {
    await shot('failure').catch(() => {});
    throw e;
  } finally {
    serve.proc.removeAllListeners('exit');
    serve.proc.kill('SIGTERM');
    await browser.close();
    rmSync(root, { recursive: true, force: true });
  }
}

main().catch((e) => { console.error('FAILED: ' + e.message); process.exit(1); });
