// The demo's virtual TALMO inside the page, seen from a scenario as the
// umockdev bridge is (bridge.mjs): its panel's commands, and its exchange
// log (window.talmoDemo.log, in the bridge's format) cut into jobs by marks.
// Marks are places in the log, taken when the scenario asks.
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const kButtons = { unplug: '#demo-plug', plug: '#demo-plug' };

export class DemoTalmo {
    constructor(session) {
        this.session = session;
        this.all = [];
        this.marks = []; // [text, index in all]
    }

    // The log's new lines, from the page.
    async fetch() {
        const page = this.session.page;
        if (page) this.all.push(...(await page.evaluate(`window.talmoDemo?.log.slice(${this.all.length}) ?? []`)));
        return this.all;
    }

    lines() {
        return this.all;
    }

    // unplug, plug: the panel's button.
    async command(line) {
        const page = this.session.page;
        const wanted = line === 'unplug' ? 'Débrancher' : 'Brancher';
        await page.waitFor(`document.getElementById('demo-plug').textContent === ${JSON.stringify(wanted)}`, 10000, kButtons[line]);
        await page.click(kButtons[line]);
    }

    async waitFor(test, what, timeoutMs = 20000) {
        const end = Date.now() + timeoutMs;
        while (!test(await this.fetch())) {
            if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what} in the exchange log`);
            await sleep(10);
        }
    }

    async mark(text) {
        await this.fetch();
        this.marks.push([text, this.all.length]);
    }

    between(text) {
        const at = this.marks.findLastIndex(([t]) => t === text);
        if (at < 0) throw new Error(`no mark "${text}"`);
        return this.all.slice(this.marks[at][1], this.marks[at + 1]?.[1] ?? this.all.length);
    }

    before(text) {
        const at = this.marks.findLast(([t]) => t === text)[1];
        return at > 0 ? withoutTime(this.all[at - 1]) : undefined;
    }

    exchanges(text) {
        return this.between(text).map(withoutTime);
    }
}

const withoutTime = (line) => line.slice(line.indexOf(' ') + 1);
