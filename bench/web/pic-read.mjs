// The web page's PIC read against talmo-cli's, over the same bridge: the
// time of each exchange (between the requests' arrivals in the bridge's
// log), the page's overhead per exchange (ratio and difference) and the
// total time of each read. Prints the figures; run by hand:
//   node bench/web/pic-read.mjs [BUILD_DIR] [SITE_DIR] [PIC]
// (defaults: build, build-web/web/site, 16f877a). It starts itself again
// under tests/web/run-page.sh, which needs Debian's chromium and umockdev.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { spawnSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';
import { Session, control, isPoll } from '../../tests/web/session.mjs';
import { withoutTime } from '../../tests/web/bridge.mjs';

const self = fileURLToPath(import.meta.url);
const root = path.resolve(path.dirname(self), '../..');

if (!process.env.TALMO_BRIDGE_CONTROL) {
    const [build = 'build', site = 'build-web/web/site', chip = '16f877a'] = process.argv.slice(2);
    const env = { ...process.env, TALMO_CLI: path.resolve(build, 'cli/talmo-cli'), TALMO_WEB_SITE: path.resolve(site) };
    const run = spawnSync(
        'sh',
        [path.join(root, 'tests/web/run-page.sh'), path.resolve(build, 'sim/talmo-hidraw-bridge'), '--sim-pic', chip, '--', process.execPath, self],
        { env, stdio: 'inherit' },
    );
    process.exit(run.status ?? 1);
}

const out = fs.mkdtempSync(path.join(os.tmpdir(), 'talmo-web-bench-'));
const s = new Session({ out, site: process.env.TALMO_WEB_SITE });

// The request times of a job's exchanges, the console's polls before it left out.
function times(mark) {
    const lines = s.talmo.between(mark);
    const start = lines.findIndex((l) => !isPoll(withoutTime(l)));
    return lines.slice(start).map((l) => Number(l.slice(0, l.indexOf(' '))));
}

function figures(t) {
    const steps = t.slice(1).map((v, i) => v - t[i]).sort((a, b) => a - b);
    return {
        exchanges: t.length,
        total: t.at(-1) - t[0],
        mean: (t.at(-1) - t[0]) / steps.length,
        median: steps[Math.floor(steps.length / 2)],
    };
}

try {
    await s.cli('read', ['pic', 'read', path.join(out, 'cli.hex')]);
    const page = await s.open();
    await s.download(() =>
        s.programmer('read', async () => {
            await page.click(control('programmer', 1045));
            await s.saveAs('page.hex');
        }),
    );
    const cli = figures(times('cli read'));
    const web = figures(times('page read'));
    const ms = (v) => v.toFixed(3).padStart(9) + ' ms';
    console.log(`PIC read, ${cli.exchanges} exchanges with talmo-cli, ${web.exchanges} with the page`);
    console.log(`                      talmo-cli       page      ratio  difference`);
    for (const key of ['mean', 'median'])
        console.log(`per exchange (${key.padEnd(6)}) ${ms(cli[key])} ${ms(web[key])} ${(web[key] / cli[key]).toFixed(2).padStart(8)} ${ms(web[key] - cli[key])}`);
    console.log(`whole read           ${(cli.total / 1000).toFixed(2).padStart(9)} s  ${(web.total / 1000).toFixed(2).padStart(8)} s ${(web.total / cli.total).toFixed(2).padStart(8)}`);
} finally {
    await s.close();
    fs.rmSync(out, { recursive: true, force: true });
}
