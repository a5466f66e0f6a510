// One browser scenario against the virtual TALMO, run by run-page.sh under
// the bridge:
//   node tests/web/run.mjs SCENARIO
// Environment: TALMO_WEB_SITE the built site folder, TALMO_WEB_OUT where
// screenshots and downloads go (default: web-out), and what run-page.sh sets.
// Exits 0 when the scenario passes; says what failed otherwise.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch, serve, writeHidPolicy } from './cdp.mjs';
import { Bridge } from './bridge.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const kNormal = 0xaa;
const kBoot = 0xa9;
const kJump = (mode) => [0x5a, 0x55, 0xaa, mode]; // 'Z' 'U' 0xAA: 1 boot loader, 0 application

// Each scenario: (page, bridge, out) => promise; `site` says which folder is served.
const scenarios = {
    // The path alone: the permitted TALMO listed without a chooser, one
    // exchange, the jump into the boot loader and back seen as removal and
    // arrival.
    probe: {
        site: here,
        start: '/probe.html',
        run: async (page, bridge, out) => {
            assert.deepEqual(
                await page.evaluate(`navigator.hid.getDevices().then((l) => l.map((d) => [d.productName, d.vendorId, d.productId]))`),
                [['TALMO', 0x04d8, kNormal]],
            );
            const ask = async (productId, bytes) => {
                const a = await page.evaluate(`exchange(${productId}, ${JSON.stringify(bytes)})`);
                return a && String.fromCharCode(...a.slice(1, a.indexOf(0, 1)));
            };
            await bridge.mark('version');
            assert.equal(await ask(kNormal, [0x56]), 'TALMO V0.23');
            await bridge.mark('jump');
            assert.equal(await ask(kNormal, kJump(1)), null);
            await page.waitFor(`events.length === 2`, 5000, 'the boot loader');
            assert.deepEqual(await page.evaluate('events'), ['disconnect aa', 'connect a9']);
            assert.equal(await ask(kBoot, [0x56]), 'TALMO BOOT V1.02');
            assert.equal(await ask(kBoot, kJump(0)), null);
            await page.waitFor(`events.length === 4`, 5000, 'the application');
            assert.equal(await ask(kNormal, [0x56]), 'TALMO V0.23');
            await bridge.mark('end');
            const letters = (job) => bridge.exchanges(job).map((l) => String.fromCharCode(parseInt(l.slice(2, 4), 16)));
            assert.deepEqual(letters('version'), ['V']);
            assert.deepEqual(letters('jump'), ['Z', 'V', 'Z', 'V']);
            await page.screenshot(path.join(out, 'probe.png'));
        },
    },
};

const name = process.argv[2];
const scenario = scenarios[name];
if (!scenario) {
    console.error(`usage: run.mjs ${Object.keys(scenarios).join('|')}`);
    process.exit(2);
}
const out = path.resolve(process.env.TALMO_WEB_OUT || 'web-out', name);
fs.mkdirSync(out, { recursive: true });
const root = scenario.site || process.env.TALMO_WEB_SITE;
if (!root) {
    console.error('TALMO_WEB_SITE: the built site folder');
    process.exit(2);
}
const site = await serve(root);
writeHidPolicy(process.env.TALMO_POLICY_DIR, site.origin);
const bridge = new Bridge();
const browser = await launch();
let status = 0;
try {
    const page = await browser.newPage(site.origin + (scenario.start || '/'), { init: 'delete window.showSaveFilePicker;' });
    await page.downloadsTo(out);
    await scenario.run(page, bridge, out);
    console.log(`${name}: passed`);
} catch (e) {
    console.error(`${name}: ${e.stack || e}`);
    status = 1;
} finally {
    await browser.close();
    await site.close();
}
process.exit(status);
