// A browser session against the virtual TALMO: under run-page.sh, the
// emulator's TALMO under the umockdev bridge, seen through WebHID, with
// talmo-cli on the same bridge; or (demo) the page's own demo, with
// talmo-cli --simulate on a board of the same kind. The page served on
// 127.0.0.1 (or opened from disk) in headless Chromium, the user's steps on
// it (buttons, boxes, file dialogs), each job's exchanges cut out of the
// TALMO's log. Used by run.mjs and the web benches.
//
//   const s = new Session({ out, site });
//   const cli = await s.cli('read', ['pic', 'read', 'cli.hex']);   // before the page opens the TALMO
//   const page = await s.open();
//   const lines = await s.programmer('identify', () => page.click(control('programmer', 1043)));
//   await s.close();
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch, serve, writeHidPolicy } from './cdp.mjs';
import fs from 'node:fs';
import { Bridge, withoutTime } from './bridge.mjs';
import { DemoTalmo } from './demo-talmo.mjs';

export const control = (page, id) => `#page-${page} [data-control="${id}"]`;
export const shown = (page) => `document.getElementById('page-${page}')?.hidden === false`;
export const textOf = (selector) => `document.querySelector(${JSON.stringify(selector)})?.textContent`;
export const idle = '!document.body.dataset.busy';

// The console's status poll ('I', every 50 ms while the console is shown):
// not part of any job.
const kPoll = '0049' + '0'.repeat(126) + ' ';
export const isPoll = (exchange) => exchange.startsWith(kPoll);

// Before each document: saves end as downloads and files are chosen in the
// page's own dialog (the browser's pickers cannot be driven), the page's
// content security policy violations are kept, and window.jobsDone counts
// the jobs that ended (body[data-busy] removed).
const kInit = `delete window.showSaveFilePicker;
delete window.showOpenFilePicker;
window.violations = [];
document.addEventListener('securitypolicyviolation', (e) => window.violations.push(e.violatedDirective + ' ' + e.blockedURI));
window.jobsDone = 0;
new MutationObserver((records) => records.forEach((r, i) => {
    const after = i + 1 < records.length ? records[i + 1].oldValue : r.target.getAttribute('data-busy');
    if (r.oldValue !== null && after === null) window.jobsDone++;
})).observe(document,
    { subtree: true, attributes: true, attributeFilter: ['data-busy'], attributeOldValue: true });`;

export class Session {
    // out: the folder for downloads and screenshots; site: the folder served;
    // file: a page to open from disk instead; policy: whether Chromium may
    // open the TALMO without a chooser.
    // demo: the page's demo TALMO, its board's PIC `chip` (as --sim-pic).
    constructor({ out, site, file, policy = true, demo = false, chip }) {
        this.out = out;
        this.site = site;
        this.file = file;
        this.policy = policy && !demo;
        this.demo = demo;
        this.chip = chip;
        this.talmo = demo ? new DemoTalmo(this) : new Bridge();
        this.differences = [];
    }

    // A new tab on the page, in place of the last one (which lets the TALMO
    // go); `init`: more script before the page's own.
    async open({ init = '', ready = 'window.talmoReady === true' } = {}) {
        await this.page?.close();
        if (!this.browser) {
            if (!this.file) this.server = await serve(this.site);
            const origin = this.file ? 'file:///*' : this.server.origin;
            if (this.policy) writeHidPolicy(process.env.TALMO_POLICY_DIR, origin);
            this.browser = await launch();
        }
        this.url = this.file ? pathToFileURL(this.file).href : this.server.origin + '/';
        this.page = await this.browser.newPage(this.url, { init: kInit + init });
        await this.page.downloadsTo(this.out);
        await this.page.waitFor(ready, 60000, 'the page to start');
        if (this.demo) await this.startDemo();
        return this.page;
    }

    // The demo's TALMO on the page just opened, at the fast pace, with the
    // board's PIC asked for.
    async startDemo() {
        const page = this.page;
        this.talmo = new DemoTalmo(this);
        await this.settle(() => page.click('#demo-try'), shown('console'));
        await page.click('#demo-fast');
        if (this.chip) {
            await page.evaluate(`document.getElementById('demo-chip').value = 'PIC${this.chip.toUpperCase()}'`);
            await page.click('#demo-pic');
        }
    }

    // The connection field's text for this TALMO.
    connection(text) {
        return this.demo ? `${text} (TALMO virtuel)` : text;
    }

    // The page ran under its content security policy without a violation.
    async checkPolicy() {
        assert.deepEqual(await this.page.evaluate('window.violations'), [], 'content security policy violations');
    }

    async close() {
        await this.browser?.close();
        await this.server?.close();
    }

    async screenshot(name) {
        await this.page.screenshot(path.join(this.out, name + '.png'));
    }

    // The page's exchanges against talmo-cli's: a difference is kept, so that
    // the scenario goes on and reports every one at its end.
    compare(actual, expected, what) {
        const difference = exchangeDifference(actual, expected, what);
        if (difference) this.differences.push(difference);
    }

    // The TALMO replaced by a new one, as the bridge makes it at the start
    // (the demo's is new with each page).
    async freshTalmo() {
        if (this.demo) return;
        this.talmo.command('unplug');
        this.talmo.command('plug');
        await this.talmo.mark('new TALMO');
    }

    // talmo-cli with args (in the output folder), which must succeed; its
    // exchanges and output.
    async cli(name, args) {
        const log = path.join(this.out, 'simulated', 'exchanges.log');
        if (this.demo) {
            // The board is made at the first command.
            const fresh = !fs.existsSync(log);
            args = ['--simulate', path.dirname(log), ...(fresh && this.chip ? ['--sim-pic', this.chip] : []), ...args];
        }
        const before = this.demo && fs.existsSync(log) ? fs.readFileSync(log, 'latin1').length : 0;
        if (!this.demo) await this.talmo.mark(`cli ${name}`);
        const result = await new Promise((resolve) =>
            execFile(process.env.TALMO_CLI, args, { cwd: this.out, maxBuffer: 1 << 24, timeout: 150000, killSignal: 'SIGABRT' }, (error, stdout, stderr) =>
                resolve({ error, stdout, stderr }),
            ),
        );
        if (!this.demo) await this.talmo.mark(`cli ${name} end`);
        if (result.error) throw new Error(`talmo-cli ${args.join(' ')}: ${result.error.message}\n${result.stderr}`);
        const exchanges = this.demo
            ? fs.readFileSync(log, 'latin1').slice(before).split('\n').filter((l) => l).map(withoutTime)
            : this.talmo.exchanges(`cli ${name}`);
        return { exchanges, stdout: result.stdout };
    }

    // Runs action (the user's steps), then waits for a job of the page to
    // end and for each state in turn, the page idle in each.
    async settle(action, ...states) {
        const page = this.page;
        const before = await page.evaluate('window.jobsDone');
        await action();
        const [first = 'true', ...rest] = states;
        await page.waitFor(`window.jobsDone > ${before} && ${idle} && (${first})`, 90000, first);
        for (const state of rest) await page.waitFor(`${idle} && (${state})`, 90000, state);
    }

    // settle(), cut out of the exchange log: what the page sent from the
    // action on. The console's polls that ran before the job started are
    // left out; the console is first left to settle, so that only polls can
    // come before (its first one after a start writes the PWM level).
    async job(name, action, ...states) {
        if (await this.page.evaluate(shown('console')))
            await this.talmo.waitFor(
                (lines) => lines.length >= 2 && lines.slice(-2).every((l) => isPoll(withoutTime(l))),
                'the console polling',
            );
        await this.talmo.mark(`page ${name}`);
        await this.settle(action, ...states);
        await this.talmo.mark(`page ${name} end`);
        const lines = this.talmo.exchanges(`page ${name}`);
        const start = lines.findIndex((l) => !isPoll(l));
        const job = start < 0 ? [] : lines.slice(start);
        // The exchange whose buffer the job's first request starts from.
        job.previous = start > 0 ? lines[start - 1] : this.talmo.before(`page ${name}`);
        return job;
    }

    // A job of the programmer page as the user starts it from the console:
    // the programmer page shown, then action.
    async programmer(name, action, ...states) {
        if (await this.page.evaluate(shown('programmer')))
            await this.settle(() => this.page.click(control('programmer', 1044)), shown('console'));
        return this.job(
            name,
            async () => {
                await this.settle(() => this.page.click(control('console', 1041)), shown('programmer'));
                await action();
            },
            ...states,
        );
    }

    // Runs fn(), which must make the page save a file; [fn's result, the file].
    async download(fn) {
        let result;
        const file = await this.page.download(async () => {
            result = await fn();
        }, 90000);
        return [result, file];
    }

    // The box shown, answered; its [caption, text].
    async answer(answer, timeoutMs = 90000) {
        const box = await this.page.waitFor(
            `document.getElementById('box').open && [${textOf('#box-caption')}, ${textOf('#box-text')}]`,
            timeoutMs,
            'a box',
        );
        await this.page.click(`#box [data-answer="${answer}"]`);
        return box;
    }

    // The save dialog, given a name.
    async saveAs(name) {
        await this.page.waitFor(`document.getElementById('save-dialog').open`, 90000, 'the save dialog');
        await this.page.type('#save-name', name);
        await this.page.click('#save-ok');
    }

    // The open dialog, given a file.
    async openFile(file) {
        await this.page.waitFor(`document.getElementById('open-dialog').open`, 90000, 'the open dialog');
        await this.page.setFiles('#open-input', [file]);
        await this.page.click('#open-ok');
    }

    // The texts of controls of a page: { id: text }.
    texts(page, ids) {
        return this.page.evaluate(
            `Object.fromEntries(${JSON.stringify(ids)}.map((id) => ` +
                `[id, document.querySelector('#page-${page} [data-control="' + id + '"]')?.textContent]))`,
        );
    }
}

// Two runs of exchanges must be the same, line for line: null when they
// are, else where they part (the runs are thousands of lines long).
export function exchangeDifference(actual, expected, what) {
    if (actual.length === expected.length && actual.every((line, k) => line === expected[k])) {
        console.log(`${what}: the same ${actual.length} exchanges`);
        return null;
    }
    let at = actual.findIndex((line, k) => line !== expected[k]);
    if (at < 0) at = actual.length;
    const apart = actual.filter((line, k) => k < expected.length && line !== expected[k]).length;
    return (
        `${what}: ${actual.length} exchanges against ${expected.length}, ${apart} of them different, ` +
        `the first at ${at}:\n` +
        `  ${actual[at] ?? '(none)'}\n  ${expected[at] ?? '(none)'}`
    );
}
