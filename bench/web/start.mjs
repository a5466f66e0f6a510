// The page's size and start: the single page (talmo-tools.html) against the
// served folder, and the time from navigation to the console showing the
// TALMO's version, opened from disk and served (the median of 5 starts each,
// the TALMO virtual under the bridge). Prints the figures; run by hand:
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

// The time since navigation at which the console first shows the version.
const kInit = `new MutationObserver((_, observer) => {
    const page = document.getElementById('page-console');
    if (page && !page.hidden && page.querySelector('[data-control="1011"]').textContent === 'TALMO V0.23') {
        window.consoleAt = performance.now();
        observer.disconnect();
    }
}).observe(document, { subtree: true, childList: true, characterData: true, attributes: true });`;

const server = await serve(site);
writeHidPolicy(process.env.TALMO_POLICY_DIR, [server.origin, 'file:///*']);
const browser = await launch();
const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
async function starts(url) {
    const times = [];
    for (let i = 0; i < 5; i++) {
        const page = await browser.newPage(url, { init: kInit, log: () => {} });
        times.push(await page.waitFor('window.consoleAt', 30000, 'the console'));
        await page.close();
    }
    return median(times);
}
try {
    const kib = (n) => `${(n / 1024).toFixed(0)} KiB`;
    const fromDisk = await starts(pathToFileURL(single).href);
    const served = await starts(server.origin + '/');
    console.log('                       size        navigation -> console "TALMO V0.23" (median of 5)');
    console.log(`single page, disk     ${kib(fs.statSync(single).size).padStart(9)}   ${fromDisk.toFixed(0)} ms`);
    console.log(`served folder         ${kib(folderBytes(site)).padStart(9)}   ${served.toFixed(0)} ms (service worker's copy after the first)`);
} finally {
    await browser.close();
    await server.close();
    fs.rmSync(alone, { recursive: true, force: true });
}
