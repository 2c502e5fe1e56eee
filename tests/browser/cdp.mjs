// A headless Chromium driven through the DevTools protocol on a pipe
// (--remote-debugging-pipe: JSON messages ended by a zero byte on fds 3 and 4),
// so the test needs nothing but Node and the system's Chromium.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--disable-extensions', '--remote-debugging-pipe'];

export class Browser {
  static async launch(executable, { width, height }) {
    const profile = mkdtempSync(join(tmpdir(), 'kztarn-chromium-'));
    const proc = spawn(executable, [...FLAGS, `--user-data-dir=${profile}`, `--window-size=${width},${height}`, 'about:blank'],
      { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'], detached: true });
    const browser = new Browser(proc, profile);
    proc.stderr.on('data', (d) => { browser.stderr += d; });
    const { targetInfos } = await browser.send('Target.getTargets');
    const page = targetInfos.find((t) => t.type === 'page');
    const { sessionId } = await browser.send('Target.attachToTarget', { targetId: page.targetId, flatten: true });
    browser.session = sessionId;
    await browser.page('Page.enable');
    await browser.page('Runtime.enable');
    await browser.page('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: false });
    return browser;
  }

  constructor(proc, profile) {
    this.proc = proc;
    this.profile = profile;
    this.stderr = '';
    this.nextId = 1;
    this.waiting = new Map();
    this.listeners = [];
    this.buffer = Buffer.alloc(0);
    this.writer = proc.stdio[3];
    proc.stdio[4].on('data', (chunk) => this.receive(chunk));
    proc.on('exit', () => {
      for (const { reject } of this.waiting.values()) reject(new Error('chromium exited: ' + this.stderr.slice(-500)));
      this.waiting.clear();
    });
  }

  receive(chunk) {
    this.buffer = Buffer.concat([this.buffer, chunk]);
    for (let end; (end = this.buffer.indexOf(0)) >= 0;) {
      const message = JSON.parse(this.buffer.subarray(0, end).toString('utf8'));
      this.buffer = this.buffer.subarray(end + 1);
      if (message.id && this.waiting.has(message.id)) {
        const { resolve, reject } = this.waiting.get(message.id);
        this.waiting.delete(message.id);
        if (message.error) reject(new Error(message.error.message));
        else resolve(message.result);
      } else if (message.method) {
        for (const l of this.listeners) l(message);
      }
    }
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    this.writer.write(JSON.stringify({ id, method, params, ...(sessionId ? { sessionId } : {}) }) + '\0');
    return new Promise((resolve, reject) => this.waiting.set(id, { resolve, reject }));
  }

  page(method, params = {}) { return this.send(method, params, this.session); }

  event(method, ms) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('no ' + method + ' within ' + ms + ' ms')), ms);
      const l = (m) => {
        if (m.method !== method) return;
        clearTimeout(timer);
        this.listeners = this.listeners.filter((x) => x !== l);
        resolve(m.params);
      };
      this.listeners.push(l);
    });
  }

  async goto(url) {
    const loaded = this.event('Page.loadEventFired', 10000);
    await this.page('Page.navigate', { url });
    await loaded;
  }

  // The value of an expression in the page (promises are awaited).
  async eval(expression) {
    const r = await this.page('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true });
    if (r.exceptionDetails) throw new Error(r.exceptionDetails.exception?.description || r.exceptionDetails.text);
    return r.result.value;
  }

  // Polls a condition in the page every animation frame until it holds.
  async waitFor(condition, ms, what) {
    const ok = await this.eval(`new Promise((resolve) => {
      const end = performance.now() + ${ms};
      const check = () => { let v = false; try { v = (${condition}); } catch (e) {}
        if (v) resolve(true); else if (performance.now() > end) resolve(false); else setTimeout(check, 10); };
      check(); })`);
    if (!ok) throw new Error('waited ' + ms + ' ms for ' + (what || condition));
  }

  // A real mouse click in the middle of the element, once it is in view and
  // nothing lies over that point (a panel still being laid out would take
  // the click, and the test would wait for an outcome that never comes).
  async click(selector) {
    const box = await this.eval(`new Promise((resolve) => {
      const end = performance.now() + 2000;
      const check = () => { const el = document.querySelector(${JSON.stringify(selector)});
        if (!el || el.offsetParent === null) { resolve(null); return; }
        el.scrollIntoView({ block: 'nearest' });
        const r = el.getBoundingClientRect(), x = r.x + r.width / 2, y = r.y + r.height / 2;
        const hit = document.elementFromPoint(x, y);
        if (hit && el.contains(hit)) resolve({ x, y });
        else if (performance.now() > end) resolve({ covered: hit ? hit.id || hit.tagName : 'nothing' });
        else setTimeout(check, 10); };
      check(); })`);
    if (!box) throw new Error('nothing visible to click at ' + selector);
    if (box.covered) throw new Error(`${selector} is covered by ${box.covered}`);
    for (const type of ['mousePressed', 'mouseReleased'])
      await this.page('Input.dispatchMouseEvent', { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
  }

  async type(selector, text) {
    await this.click(selector);
    for (const ch of text) await this.page('Input.insertText', { text: ch });
  }

  async screenshot() {
    const { data } = await this.page('Page.captureScreenshot', { format: 'png' });
    return Buffer.from(data, 'base64');
  }

  async close() {
    try { await Promise.race([this.send('Browser.close'), new Promise((r) => setTimeout(r, 2000))]); } catch (e) { /* gone */ }
    if (this.proc.exitCode === null && this.proc.signalCode === null) {
      const exited = new Promise((r) => this.proc.once('exit', r));
      this.proc.kill('SIGKILL');
      await exited;
    }
    // Its helper processes (own process group) may still write the profile.
    try { process.kill(-this.proc.pid, 'SIGKILL'); } catch (e) { /* all gone */ }
    rmSync(this.profile, { recursive: true, force: true, maxRetries: 5, retryDelay: 100 });
  }
}
