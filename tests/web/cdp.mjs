// Headless Chromium driven over the DevTools protocol on --remote-debugging-pipe
// (fd 3: commands in, fd 4: answers and events out, one JSON message per
// NUL-terminated chunk), and the page's static file server on 127.0.0.1. No npm package.
//
//   const site = await serve('build-web/web/site');          // http://127.0.0.1:PORT
//   writeHidPolicy(process.env.TALMO_POLICY_DIR, site.origin); // before launch()
//   const browser = await launch();
//   const page = await browser.newPage(site.origin + '/', { init: 'delete window.showSaveFilePicker' });
//   await page.waitFor('window.talmoReady === true', 10000);
//   await page.click('#page-programmer [data-control="1043"]');
//   await page.screenshot('programmer.png');
//   await browser.close(); site.close();
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const TALMO_VENDOR_ID = 0x04d8;
export const TALMO_PRODUCT_IDS = [0x00aa, 0x00a9];

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const kCommandTimeoutMs = 120000;

// A promise that fails with `what` after ms.
function withTimeout(promise, ms, what) {
    let timer;
    const timeout = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
    });
    return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// The managed policy that lets `origin` (or each of an array of origins)
// open both of the TALMO's product IDs without a chooser. `dir` is the
// folder mounted on Chromium's managed policies folder.
export function writeHidPolicy(dir, origin) {
    const devices = TALMO_PRODUCT_IDS.map((p) => ({ vendor_id: TALMO_VENDOR_ID, product_id: p }));
    const policy = { WebHidAllowDevicesForUrls: [{ devices, urls: [].concat(origin) }] };
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, 'talmo-test.json'), JSON.stringify(policy));
}

export { serve } from '../../web/serve.mjs';

// One DevTools protocol connection over the pipe.
class Connection {
    constructor(writable, readable) {
        this.out = writable;
        this.nextId = 1;
        this.pending = new Map(); // id -> { resolve, reject, method }
        this.listeners = new Set(); // fn(message) for every event
        this.closed = false;
        let buffer = Buffer.alloc(0);
        readable.on('data', (chunk) => {
            buffer = Buffer.concat([buffer, chunk]);
            let end;
            while ((end = buffer.indexOf(0)) >= 0) {
                const text = buffer.subarray(0, end).toString('utf8');
                buffer = buffer.subarray(end + 1);
                this.dispatch(JSON.parse(text));
            }
        });
        readable.on('close', () => {
            this.closed = true;
            for (const p of this.pending.values()) p.reject(new Error(`browser gone during ${p.method}`));
            this.pending.clear();
        });
    }

    dispatch(message) {
        if (message.id !== undefined) {
            const p = this.pending.get(message.id);
            if (!p) return;
            this.pending.delete(message.id);
            if (message.error) p.reject(new Error(`${p.method}: ${message.error.message}`));
            else p.resolve(message.result);
            return;
        }
        for (const fn of [...this.listeners]) fn(message);
    }

    send(method, params = {}, sessionId = undefined) {
        if (this.closed) return Promise.reject(new Error(`browser gone before ${method}`));
        const id = this.nextId++;
        const message = { id, method, params };
        if (sessionId) message.sessionId = sessionId;
        this.out.write(JSON.stringify(message) + '\0');
        // A command the browser never answers fails, naming itself.
        return new Promise((resolve, reject) => {
            const timer = setTimeout(() => {
                this.pending.delete(id);
                reject(new Error(`no answer to ${method} after ${kCommandTimeoutMs} ms`));
            }, kCommandTimeoutMs);
            const done = (settle) => (value) => (clearTimeout(timer), settle(value));
            this.pending.set(id, { resolve: done(resolve), reject: done(reject), method });
        });
    }

    // Calls fn(params) for each event `method` (of `sessionId`, when given); returns the remover.
    on(method, fn, sessionId = undefined) {
        const listener = (m) => {
            if (m.method === method && (!sessionId || m.sessionId === sessionId)) fn(m.params);
        };
        this.listeners.add(listener);
        return () => this.listeners.delete(listener);
    }
}

// The flags every run uses; as root Chromium refuses to start with its sandbox on.
export function chromiumArgs(userDataDir) {
    const args = [
        '--headless',
        '--disable-gpu',
        '--disable-quic',
        '--no-first-run',
        '--no-default-browser-check',
        '--disable-background-networking',
        '--disable-component-update',
        '--disable-sync',
        '--remote-debugging-pipe',
        `--user-data-dir=${userDataDir}`,
    ];
    if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
    return args;
}

// Starts Chromium (CHROMIUM or /usr/bin/chromium) with a fresh profile.
// Its messages go to stderr when TALMO_WEB_VERBOSE is set.
export async function launch({ executable = process.env.CHROMIUM || '/usr/bin/chromium', args = [] } = {}) {
    const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'talmo-chromium-'));
    const verbose = !!process.env.TALMO_WEB_VERBOSE;
    const child = spawn(executable, [...chromiumArgs(userDataDir), ...args, 'about:blank'], {
        stdio: ['ignore', verbose ? 'inherit' : 'ignore', verbose ? 'inherit' : 'ignore', 'pipe', 'pipe'],
    });
    const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
    const conn = new Connection(child.stdio[3], child.stdio[4]);
    const browser = new Browser(child, conn, userDataDir, exited);
    try {
        await withTimeout(conn.send('Browser.getVersion'), 30000, 'Chromium start');
    } catch (e) {
        await browser.close();
        throw e;
    }
    return browser;
}

class Browser {
    constructor(child, conn, userDataDir, exited) {
        this.child = child;
        this.conn = conn;
        this.userDataDir = userDataDir;
        this.exited = exited;
    }

    send(method, params) {
        return this.conn.send(method, params);
    }

    // A new tab on url. `init`: script run in every document before its own
    // scripts. Messages of the page's console and its uncaught errors go to
    // `log` (default: stderr).
    async newPage(url, { init, log = (line) => process.stderr.write(line + '\n') } = {}) {
        const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
        const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
        const page = new Page(this, targetId, sessionId, log);
        await page.send('Emulation.setDeviceMetricsOverride', { width: 900, height: 700, deviceScaleFactor: 1, mobile: false });
        await page.send('Page.enable');
        await page.send('Runtime.enable');
        if (init) await page.send('Page.addScriptToEvaluateOnNewDocument', { source: init });
        await page.goto(url);
        return page;
    }

    async close() {
        if (!this.conn.closed) this.conn.send('Browser.close').catch(() => {});
        const ended = await Promise.race([this.exited, sleep(5000).then(() => null)]);
        if (!ended) {
            this.child.kill('SIGKILL');
            await this.exited;
        }
        fs.rmSync(this.userDataDir, { recursive: true, force: true, maxRetries: 5, retryDelay: 100 });
    }
}

class Page {
    constructor(browser, targetId, sessionId, log) {
        this.browser = browser;
        this.conn = browser.conn;
        this.targetId = targetId;
        this.sessionId = sessionId;
        this.conn.on(
            'Runtime.consoleAPICalled',
            (p) => log(`[page ${p.type}] ` + p.args.map((a) => (a.value !== undefined ? a.value : a.description)).join(' ')),
            sessionId,
        );
        this.conn.on(
            'Runtime.exceptionThrown',
            (p) => log(`[page exception] ${p.exceptionDetails.exception?.description || p.exceptionDetails.text}`),
            sessionId,
        );
    }

    send(method, params) {
        return this.conn.send(method, params, this.sessionId);
    }

    // Opens url and waits until it is loaded. Asked of the document rather
    // than awaited as an event: a load that ends before the event is
    // listened to, or a context replaced meanwhile, cannot be missed.
    async goto(url, timeoutMs = 60000) {
        const result = await this.send('Page.navigate', { url });
        if (result.errorText) throw new Error(`cannot open ${url}: ${result.errorText}`);
        const loaded = `location.href === ${JSON.stringify(url)} && document.readyState === 'complete'`;
        const end = Date.now() + timeoutMs;
        while (!(await this.evaluate(loaded).catch(() => false))) {
            if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms loading ${url}`);
            await sleep(20);
        }
    }

    // The value of a JavaScript expression (a promise is awaited); throws
    // what the page threw.
    async evaluate(expression) {
        const r = await this.send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true });
        if (r.exceptionDetails) {
            const d = r.exceptionDetails;
            throw new Error(`in page: ${d.exception?.description || d.text} (${expression})`);
        }
        return r.result.value;
    }

    // Waits until the expression is truthy; its value. Fails after timeoutMs.
    async waitFor(expression, timeoutMs = 30000, what = expression) {
        const end = Date.now() + timeoutMs;
        for (;;) {
            const value = await this.evaluate(expression);
            if (value) return value;
            if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
            await sleep(20);
        }
    }

    // A real mouse click in the middle of the element (a user gesture).
    async click(selector) {
        const box = await this.evaluate(`(() => {
            const e = document.querySelector(${JSON.stringify(selector)});
            if (!e) return null;
            e.scrollIntoView({ block: 'center' });
            const r = e.getBoundingClientRect();
            return { x: r.left + r.width / 2, y: r.top + r.height / 2, w: r.width, h: r.height };
        })()`);
        if (!box) throw new Error(`no element ${selector}`);
        if (!box.w || !box.h) throw new Error(`element ${selector} is not shown`);
        for (const type of ['mousePressed', 'mouseReleased'])
            await this.send('Input.dispatchMouseEvent', { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
    }

    // Types text into an edit, in place of what it holds (input events as from the keyboard).
    async type(selector, text) {
        const found = await this.evaluate(`(() => {
            const e = document.querySelector(${JSON.stringify(selector)});
            if (!e) return false;
            e.focus();
            e.select();
            return true;
        })()`);
        if (!found) throw new Error(`no element ${selector}`);
        await this.send('Input.insertText', { text });
    }

    // Gives the file input these files, as if chosen in the file dialog.
    async setFiles(selector, files) {
        const { root } = await this.send('DOM.getDocument', { depth: 0 });
        const { nodeId } = await this.send('DOM.querySelector', { nodeId: root.nodeId, selector });
        if (!nodeId) throw new Error(`no element ${selector}`);
        await this.send('DOM.setFileInputFiles', { nodeId, files: files.map((f) => path.resolve(f)) });
    }

    // Downloads go to dir from now on (the browser's setting, every page).
    async downloadsTo(dir) {
        fs.mkdirSync(dir, { recursive: true });
        this.downloadDir = path.resolve(dir);
        await this.browser.send('Browser.setDownloadBehavior', {
            behavior: 'allowAndName', // saved as the download's guid, renamed once whole
            downloadPath: this.downloadDir,
            eventsEnabled: true,
        });
    }

    // Runs action() and returns the path of the file it downloaded, under the
    // name the page gave it (an earlier file of that name is replaced).
    async download(action, timeoutMs = 15000) {
        if (!this.downloadDir) throw new Error('downloadsTo() first');
        let guid, name;
        const ended = new Map(); // guid -> final state, whatever order the events come in
        const removers = [
            this.conn.on('Browser.downloadWillBegin', (p) => {
                if (!guid) ({ guid, suggestedFilename: name } = p);
            }),
            this.conn.on('Browser.downloadProgress', (p) => {
                if (p.state !== 'inProgress') ended.set(p.guid, p.state);
            }),
        ];
        try {
            await action();
            const end = Date.now() + timeoutMs;
            while (!(guid && ended.has(guid))) {
                if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms waiting for a download`);
                await sleep(20);
            }
        } finally {
            removers.forEach((remove) => remove());
        }
        if (ended.get(guid) !== 'completed') throw new Error(`download ${name}: ${ended.get(guid)}`);
        const file = path.join(this.downloadDir, path.basename(name));
        fs.renameSync(path.join(this.downloadDir, guid), file);
        return file;
    }

    async close() {
        await this.browser.send('Target.closeTarget', { targetId: this.targetId });
    }

    async screenshot(file) {
        const { data } = await this.send('Page.captureScreenshot', { format: 'png' });
        fs.writeFileSync(file, Buffer.from(data, 'base64'));
    }
}
