// The umockdev bridge seen from a scenario run by run-page.sh: its control
// commands, and its exchange log cut into jobs by marks.
//
//   const bridge = new Bridge();
//   await bridge.mark('read');          // "# read" is in the log before this returns
//   ... the page reads the PIC ...
//   await bridge.mark('read end');
//   bridge.exchanges('read')            // the lines between, without their times
//   bridge.command('unplug');
import fs from 'node:fs';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export class Bridge {
    constructor(control = process.env.TALMO_BRIDGE_CONTROL, log = process.env.TALMO_BRIDGE_LOG) {
        if (!control || !log) throw new Error('run under tests/web/run-page.sh');
        this.control = control;
        this.log = log;
        this.read = 0; // bytes of the log taken into `all`
        this.rest = ''; // a last line not yet ended
        this.all = [];
    }

    // One control command (plug, plug-boot, unplug, replug, mark TEXT, quit).
    command(line) {
        fs.writeFileSync(this.control, line + '\n', { flag: 'a' });
    }

    // Every line of the log so far (the log only grows: read from where the last call stopped).
    lines() {
        const fd = fs.openSync(this.log, 'r');
        try {
            for (;;) {
                const chunk = Buffer.alloc(1 << 20);
                const n = fs.readSync(fd, chunk, 0, chunk.length, this.read);
                if (n <= 0) break;
                this.read += n;
                const parts = (this.rest + chunk.toString('latin1', 0, n)).split('\n');
                this.rest = parts.pop();
                for (const line of parts) if (line !== '') this.all.push(line);
            }
        } finally {
            fs.closeSync(fd);
        }
        return this.all;
    }

    // Resolves once test(lines) holds.
    async waitFor(test, what, timeoutMs = 20000) {
        const end = Date.now() + timeoutMs;
        while (!test(this.lines())) {
            if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what} in the exchange log`);
            await sleep(10);
        }
    }

    // Writes "# text" into the log; resolves once it is there, so that every
    // exchange after it comes after the mark.
    async mark(text) {
        if (text.includes('\n')) throw new Error('one line per mark');
        const from = this.lines().length;
        this.command('mark ' + text);
        await this.waitFor((lines) => lines.indexOf('# ' + text, from) >= 0, `mark "${text}"`);
    }

    // The lines between mark `text` and the next mark.
    between(text) {
        const lines = this.lines();
        const start = lines.lastIndexOf('# ' + text);
        if (start < 0) throw new Error(`no mark "${text}" in the log`);
        const end = lines.findIndex((l, i) => i > start && l.startsWith('#'));
        return lines.slice(start + 1, end < 0 ? lines.length : end);
    }

    // The last exchange before mark `text`, without its time.
    before(text) {
        const lines = this.lines();
        const mark = lines.lastIndexOf('# ' + text);
        const last = lines.slice(0, mark).findLast((l) => !l.startsWith('#'));
        return last === undefined ? undefined : withoutTime(last);
    }

    // The exchanges between mark `text` and the next mark, each line without
    // its time (the bridge runs on a real clock).
    exchanges(text) {
        return this.between(text).map(withoutTime);
    }

    // Their times in ms.
    times(text) {
        return this.between(text).map((l) => Number(l.slice(0, l.indexOf(' '))));
    }
}

export const withoutTime = (line) => line.slice(line.indexOf(' ') + 1);
