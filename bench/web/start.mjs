// The page's size and start: the single page (talmo-tools.html) against the
// served folder; the time from navigation to the console showing the
// TALMO's version, opened from disk and served (the virtual TALMO under the
// bridge); to the waiting page, served without and with the emulator's
// program; and the demo's, from "Essayer sans TALMO" to its console. The
// median of 5 each. Prints the figures; run by hand:
//   node bench/web/start.mjs [BUILD_DIR] [SITE_DIR]
// (defaults: build, build-web/web/site; the single page beside SITE_DIR).
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { spawnSync } from 'node:child_process';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { launch, serve, writeHidPolicy } from '../../tests/web/cdp.mjs';

const self = fileURLToPath(import.meta.url);
const root = path.resolve(path.dirname(self), '../..');

if (!process.env.TALMO_BRIDGE_CONTROL) {
    const [build = 'build', site = 'build-web/web/site'] = process.argv.slice(2);
    const env = { ...process.env, TALMO_WEB_SITE: path.resolve(site) };
    const run = spawnSync(
        'sh',
        [path.join(root, 'tests/web/run-page.sh'), path.resolve(build, 'sim/talmo-hidraw-bridge'), '--', process.execPath, self],
        { env, stdio: 'inherit' },
    );
    process.exit(run.status ?? 1);
}

const site = process.env.TALMO_WEB_SITE;
const folderBytes = (dir) =>
    fs.readdirSync(dir, { withFileTypes: true }).reduce((n, e) => {
        const p = path.join(dir, e.name);
        return n + (e.isDirectory() ? folderBytes(p) : fs.statSync(p).size);
    }, 0);
const alone = fs.mkdtempSync(path.join(os.tmpdir(), 'talmo-single-'));
const single = path.join(alone, 'talmo-tools.html');
fs.copyFileSync(path.join(site, '..', 'talmo-tools.html'), single);

// The time since navigation at which the console first shows the version
// (window.consoleAt) and at which the page has started (window.readyAt).
const kInit = `new MutationObserver((_, observer) => {
    const page = document.getElementById('page-console');
    if (window.talmoReady && !window.readyAt) window.readyAt = performance.now();
    if (page && !page.hidden && page.querySelector('[data-control="1011"]').textContent === 'TALMO V0.23') {
        window.consoleAt = performance.now();
        observer.disconnect();
    }
}).observe(document, { subtree: true, childList: true, characterData: true, attributes: true });`;

// The served page starting with the emulator's program.
const withDemo = fs.mkdtempSync(path.join(os.tmpdir(), 'talmo-site-'));
fs.cpSync(site, withDemo, { recursive: true });
fs.writeFileSync(
    path.join(withDemo, 'index.html'),
    fs.readFileSync(path.join(site, 'index.html'), 'utf8').replace('talmo-web.js', 'talmo-demo.js'),
);

const server = await serve(site);
const bare = await serve(site); // an origin the policy leaves out: the waiting page
const bareDemo = await serve(withDemo);
writeHidPolicy(process.env.TALMO_POLICY_DIR, [server.origin, 'file:///*']);
const browser = await launch();
const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
async function starts(url, until, action) {
    const times = [];
    for (let i = 0; i < 5; i++) {
        const page = await browser.newPage(url, { init: kInit, log: process.env.TALMO_BENCH_LOG ? undefined : () => {} });
        if (action) {
            await page.waitFor('window.talmoReady', 30000, 'the page');
            const clicked = await page.evaluate('performance.now()');
            await page.click(action);
            times.push((await page.waitFor('window.consoleAt', 30000, 'the demo')) - clicked);
        } else {
            times.push(await page.waitFor(until, 30000, until));
        }
        await page.close();
        await new Promise((resolve) => setTimeout(resolve, 1000)); // the TALMO let go
    }
    return median(times);
}
const bytes = (dir, files) => files.reduce((n, f) => n + fs.statSync(path.join(dir, f)).size, 0);
const pageFiles = ['index.html', 'style.css', 'noscript.css', 'view.js', 'demo.js', 'app.js'];
try {
    const kib = (n) => `${(n / 1024).toFixed(0)} KiB`.padStart(9);
    const ms = (t) => `${t.toFixed(0)} ms`;
    const fromDisk = await starts(pathToFileURL(single).href, 'window.consoleAt');
    const served = await starts(server.origin + '/', 'window.consoleAt');
    const waiting = await starts(bare.origin + '/', 'window.readyAt');
    const waitingDemo = await starts(bareDemo.origin + '/', 'window.readyAt');
    const demo = await starts(bare.origin + '/', null, '#demo-try');
    const program = (name) => bytes(site, [`${name}.js`, `${name}.wasm`]);
    console.log('                                         size        time (median of 5)');
    console.log(`single page from disk, to the console  ${kib(fs.statSync(single).size)}   ${ms(fromDisk)}`);
    console.log(`served, to the console                 ${kib(folderBytes(site))}   ${ms(served)}   (the whole folder; service worker's copy after the first)`);
    console.log(`served, to the waiting page            ${kib(bytes(site, pageFiles) + program('talmo-web'))}   ${ms(waiting)}   (page and program without the emulator)`);
    console.log(`  the same with the emulator's program ${kib(bytes(site, pageFiles) + program('talmo-demo'))}   ${ms(waitingDemo)}`);
    console.log(`demo: "Essayer sans TALMO" -> console  ${kib(program('talmo-demo'))}   ${ms(demo)}   (its program fetched then)`);
} finally {
    await browser.close();
    for (const s of [server, bare, bareDemo]) await s.close();
    fs.rmSync(alone, { recursive: true, force: true });
    fs.rmSync(withDemo, { recursive: true, force: true });
}
