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
    }

    // One control command (plug, plug-boot, unplug, replug, mark TEXT, quit).
    command(line) {
        fs.writeFileSync(this.control, line + '\n', { flag: 'a' });
    }

    lines() {
        return fs.readFileSync(this.log, 'utf8').split('\n').filter((l) => l !== '');
    }

    // Writes "# text" into the log; resolves once it is there, so that every
    // exchange after it comes after the mark.
    async mark(text, timeoutMs = 5000) {
        if (text.includes('\n')) throw new Error('one line per mark');
        this.command('mark ' + text);
        const end = Date.now() + timeoutMs;
        while (!this.lines().includes('# ' + text)) {
            if (Date.now() > end) throw new Error(`the bridge did not write mark "${text}"`);
            await sleep(10);
        }
    }

    // The exchanges between mark `text` and the next mark, each line without
    // its time (the bridge runs on a real clock).
    exchanges(text) {
        const lines = this.lines();
        const start = lines.lastIndexOf('# ' + text);
        if (start < 0) throw new Error(`no mark "${text}" in the log`);
        const out = [];
        for (const line of lines.slice(start + 1)) {
            if (line.startsWith('#')) break;
            out.push(line.slice(line.indexOf(' ') + 1));
        }
        return out;
    }
}
