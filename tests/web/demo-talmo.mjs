// The demo's virtual TALMO inside the page, seen from a scenario as the
// umockdev bridge is (bridge.mjs): its panel's commands, and its exchange
// log (window.talmoDemo.log, in the bridge's format), with the scenario's
// marks put in as the bridge puts them in its log.
import { Bridge } from './bridge.mjs';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export class DemoTalmo extends Bridge {
    constructor(session) {
        super('-', '-');
        this.session = session;
        this.taken = 0; // lines of the page's log taken into `all`
    }

    lines() {
        return this.all;
    }

    // The log's new lines, from the page.
    async fetch() {
        const fresh = (await this.session.page?.evaluate(`window.talmoDemo?.log.slice(${this.taken}) ?? []`)) ?? [];
        this.taken += fresh.length;
        this.all.push(...fresh);
        return this.all;
    }

    // unplug, plug: the panel's button.
    async command(line) {
        const wanted = line === 'unplug' ? 'Débrancher' : 'Brancher';
        await this.session.page.waitFor(`document.getElementById('demo-plug').textContent === '${wanted}'`, 10000, line);
        await this.session.page.click('#demo-plug');
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
        this.all.push('# ' + text);
    }
}
