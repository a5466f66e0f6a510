// One browser scenario of the web page against the virtual TALMO, run by
// run-page.sh under the bridge (CMakeLists.txt gives each its bridge options):
//   node tests/web/run.mjs SCENARIO
// Environment: TALMO_WEB_SITE the built site folder, TALMO_CLI talmo-cli,
// TALMO_WEB_OUT where downloads and screenshots go (default: web-out), and
// what run-page.sh sets. Exits 0 when the scenario passes; says what failed
// otherwise.
//
// Every device job of the page is checked against talmo-cli's same job on the
// same bridge: the emulator's exchanges, byte for byte without their times.
// talmo-cli runs first, before the page opens the TALMO (the two never hold
// it at once). The page's job starts where the user starts it, from the
// console; the console's status polls before it are not part of it (see
// Session.job). Where the two programs' jobs end differently, the cut is said
// at the comparison.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL, fileURLToPath } from 'node:url';
import { launch, serve } from './cdp.mjs';
import { Session, control, idle, shown, textOf } from './session.mjs';

const status = (field) => textOf(`#status-${field}`);
const kVersion = '0056' + '0'.repeat(126) + ' '; // 'V': the firmware's version text
const request = (exchange) => exchange.slice(0, exchange.indexOf(' '));
const answer = (exchange) => exchange.slice(exchange.indexOf(' ') + 1);
// A request built in place: report ID 0, then `bytes` (hex) from byte 1 over
// what the buffer held.
const withOwnBytes = (buffer, bytes) => '00' + bytes + buffer.slice(2 + bytes.length);

// Identify, read and program the board's PIC, on the page and with talmo-cli;
// the bridge's --sim-pic sets the chip, hence the mode (block or word).
async function pic(s) {
    const cliHex = path.join(s.out, 'cli.hex');
    fs.rmSync(cliHex, { force: true });
    const cli = {
        identify: await s.cli('identify', ['pic', 'identify']),
        read: await s.cli('read', ['pic', 'read', cliHex]),
        program: await s.cli('program', ['pic', 'program', cliHex, '--yes']),
    };
    // What talmo-cli says last of the PIC (progress lines come before).
    const said = (key) => [...cli.identify.stdout.matchAll(new RegExp(`^${key}: (.*)$`, 'gm'))].at(-1)[1];
    // A new TALMO for the page: talmo-cli's programming left the
    // configuration word with low-voltage programming on.
    await s.freshTalmo();
    const page = await s.open();
    const identify = await s.programmer('identify', () => page.click(control('programmer', 1043)));
    assert.deepEqual(await s.texts('programmer', [1047, 1048]), { 1047: said('PIC'), 1048: said('Version') });
    await s.screenshot('programmer-identified');

    const [read, file] = await s.download(() =>
        s.programmer('read', async () => {
            await page.click(control('programmer', 1045));
            await s.saveAs('velkor.hex');
        }),
    );
    assert.equal(path.basename(file), 'velkor.hex');
    assert.equal(fs.readFileSync(file, 'latin1'), fs.readFileSync(cliHex, 'latin1'), 'the page read the PIC as talmo-cli did');
    assert.equal(await page.evaluate(status('message')), 'Sauvegarde: OK');

    let question;
    const program = await s.programmer('program', async () => {
        await page.click(control('programmer', 1046));
        await s.openFile(file);
        question = await s.answer('yes');
    });
    assert.deepEqual(question, ['Programmation', 'Programmer cette version ?\n' + said('Version')]);
    assert.equal(await page.evaluate(status('message')), 'Programmation+Vérification: OK');

    // talmo-cli's jobs start with the programmer page's show, as the page's
    // do from the console: the same exchanges from end to end.
    for (const [job, exchanges] of Object.entries({ identify, read, program }))
        s.compare(exchanges, cli[job].exchanges, `the page's ${job}`);
}

// The firmware saved and programmed through the mode switch by hand, then
// the automatic update, against talmo-cli's firmware save and program.
async function firmware(s) {
    const cliHex = path.join(s.out, 'cli-firmware.hex');
    fs.rmSync(cliHex, { force: true });
    const cli = {
        save: await s.cli('save', ['firmware', 'save', cliHex]),
        program: await s.cli('program', ['firmware', 'program', cliHex, '--yes', '--no-verify']),
    };
    // The site with a default firmware file, for the automatic update.
    s.site = path.join(s.out, 'site');
    fs.rmSync(s.site, { recursive: true, force: true });
    fs.cpSync(process.env.TALMO_WEB_SITE, s.site, { recursive: true });
    fs.copyFileSync(cliHex, path.join(s.site, 'talmo.hex'));

    const page = await s.open();
    await page.waitFor(shown('console'));
    const toBootLoader = await s.job('update', () => page.click(control('console', 1027)), shown('bootloader'));
    assert.equal(await page.evaluate(textOf(control('bootloader', 1011))), 'TALMO BOOT V1.02');
    await s.screenshot('bootloader');
    const [save, file] = await s.download(() =>
        s.job('save', async () => {
            await page.click(control('bootloader', 1052));
            await s.saveAs('talmo-saved.hex');
        }),
    );
    assert.equal(fs.readFileSync(file, 'latin1'), fs.readFileSync(cliHex, 'latin1'), 'the page saved the firmware as talmo-cli did');
    let question;
    const program = await s.job('program', async () => {
        await page.click(control('bootloader', 1053));
        await s.openFile(file);
        await page.waitFor(`document.getElementById('box').open`);
        await s.screenshot('confirmation');
        question = await s.answer('yes');
    });
    const version = await page.evaluate(textOf(control('bootloader', 1049)));
    assert.deepEqual(question, ['Programmation', 'Programmer cette version ?\n' + version]);
    assert.equal(await page.evaluate(status('message')), 'Programmation: OK');
    const back = await s.job('return', () => page.click(control('bootloader', 1044)), shown('console'));

    // talmo-cli leaves the boot loader after its save as after its
    // programming, then reads the version running ('V'); the page leaves it
    // on "Retour TALMO" (the first exchange of `back`), then starts the
    // console, whose own sequence follows. talmo-cli's jobs, but for that
    // last 'V': the page's jump and boot-loader show, its save or program,
    // and its leave.
    // The jump to the boot loader sets its four bytes in the console's
    // buffer and sends the rest as the last status exchange left it, as the
    // window's console does; talmo-cli sends it from a buffer of its own.
    // The jump is checked for that, and talmo-cli's stands in for it.
    const jump = withOwnBytes(answer(toBootLoader.previous), '5A55AA01');
    assert.equal(request(toBootLoader[0]), jump, 'the jump: its bytes over the last status answer');
    for (const [job, exchanges] of Object.entries({ save, program })) {
        const own = cli[job].exchanges;
        assert.equal(request(own.at(-1)) + ' ', kVersion, `talmo-cli's ${job} ends with the version`);
        const page = [own[0], ...toBootLoader.slice(1), ...exchanges, back[0]];
        s.compare(page, own.slice(0, -1), `the page's firmware ${job}`);
    }

    // The automatic update, on a page just opened as talmo-cli is a program
    // just started: "Mise à jour" with Auto ticked programs talmo.hex beside
    // the page and leaves the boot loader, on its own. talmo-cli's program
    // but for its last 'V', then the console's start.
    const fresh = await s.open();
    await fresh.waitFor(shown('console'));
    await fresh.click('#auto-box');
    const auto = await s.job('auto', () => fresh.click(control('console', 1027)), `${shown('console')} && ${status('message')} === 'Programmation: OK'`);
    const own = cli.program.exchanges.slice(0, -1);
    assert.equal(request(auto[0]), withOwnBytes(answer(auto.previous), '5A55AA01'), 'the automatic update\'s jump');
    s.compare([own[0], ...auto.slice(1, own.length)], own, 'the automatic update');
}

// The console's status as talmo-cli reads it, a command, and a TALMO
// unplugged in the middle of a PIC read, then plugged in again.
async function console_(s) {
    const json = JSON.parse((await s.cli('status', ['status', '--json'])).stdout);
    const page = await s.open();
    await page.waitFor(`${shown('console')} && ${textOf(control('console', 1033))} !== '-,-,-,-,-'`);
    // [control, the field of `status --json`]
    const texts = [
        [1011, 'version'],
        [1025, 'flash.manufacturer'],
        [1028, 'flash.type'],
        [1029, 'flash.size'],
        [1032, 'flash.protection'],
        [1034, 'table.name'],
        [1038, 'table.frequency'],
        [1033, 'table.axes'],
        [1037, 'table.accel'],
        [1013, 'table.pwm_max'],
        [1042, 'table.auto_on_off'],
        [1039, 'table.contacts'],
    ];
    const field = (name) => name.split('.').reduce((o, k) => o[k], json);
    assert.deepEqual(
        await s.texts('console', texts.map(([id]) => id)),
        Object.fromEntries(texts.map(([id, name]) => [id, field(name)])),
    );
    // [control, field, what talmo-cli says, the picture for it]
    const pictures = [
        [1012, 'state.stop_prog', 'éteint', 150],
        [1014, 'state.motors', 'OFF', 167],
        [1035, 'state.limit_switches', 'ouverts', 163],
        [1036, 'state.probes', 'ouverts', 163],
        [1007, 'state.pwm_input', 'AUTO, niveau 0 %, entrée 0 %', 140],
        [1008, 'state.pwm_output', '0 %, interrupteur ON, protection démarrage OFF', 166],
    ];
    const picture = (id) => `document.querySelector('${control('console', id)}').dataset.picture`;
    for (const [id, name, said, number] of pictures) {
        assert.equal(field(name), said, name);
        await page.waitFor(`${picture(id)} === '${number}'`, 30000, `picture ${number} on ${id}`);
    }
    assert.equal(await page.evaluate(status('connection')), s.connection('USB: TALMO connecté'));
    // The motors on, seen by the poll, and off again.
    for (const number of [166, 167]) await s.settle(() => page.click(control('console', 1014)), `${picture(1014)} === '${number}'`);
    await s.screenshot('console');

    await s.settle(() => page.click(control('console', 1041)), shown('programmer'));
    await page.click(control('programmer', 1045));
    await page.waitFor(`!document.getElementById('meter').hidden && (document.getElementById('progress').value > document.getElementById('progress').max / 5)`, 30000, 'the read');
    await s.talmo.command('unplug');
    assert.deepEqual(await s.answer('ok'), ['Erreur', 'Erreur lors de la lecture du PIC.']);
    await page.waitFor(`${idle} && ${shown('waiting')} && ${status('connection')} === '${s.connection('USB: TALMO non connecté')}'`, 30000, 'the waiting page');
    assert.equal(await page.evaluate(`document.getElementById('save-dialog').open`), false);
    await s.talmo.command('plug');
    await page.waitFor(`${idle} && ${shown('console')} && ${status('connection')} === '${s.connection('USB: TALMO connecté')}'`, 30000, 'the console');
    if (!s.demo) return;
    // The demo left: the waiting page, and the virtual TALMO no longer in use.
    await s.settle(() => page.click('#demo-leave'), `${shown('waiting')} && ${status('connection')} === 'USB: TALMO non connecté'`);
    assert.ok(await page.evaluate(`document.getElementById('demo-panel').hidden && document.getElementById('demo-banner').hidden`));
    const exchanges = await page.evaluate('window.talmoDemo.log.length');
    await new Promise((resolve) => setTimeout(resolve, 500));
    assert.equal(await page.evaluate('window.talmoDemo.log.length'), exchanges, 'the virtual TALMO still in use');
}

// Without the policy the page must ask for the TALMO; without WebHID it says
// which browsers work (served: a11y.mjs).
async function access(s) {
    const page = await s.open();
    assert.ok(await page.evaluate(`${shown('waiting')} && !document.getElementById('connect').hidden`), 'the connect button');
    assert.match(await page.evaluate(textOf('#connect-note')), /Connecter le TALMO/);
    await s.screenshot('waiting-connect');
    // The single page from disk in a browser without WebHID, then with
    // scripts blocked: the same page that names the browsers that work.
    const single = path.join(s.out, 'talmo-tools.html');
    fs.copyFileSync(path.join(process.env.TALMO_WEB_SITE, '..', 'talmo-tools.html'), single);
    const browser = await launch({ args: ['--disable-blink-features=WebHID'] });
    try {
        for (const scripts of [true, false]) {
            const page = await browser.newPage('about:blank');
            await page.send('Emulation.setScriptExecutionDisabled', { value: !scripts });
            await page.goto(pathToFileURL(single).href);
            const shows = (id) => `(getComputedStyle(document.getElementById('${id}') ?? document.head).display !== 'none')`;
            await page.waitFor(`${shows('no-webhid')} && !${shows('window')}`, 30000, `the browsers' page (scripts ${scripts})`);
            assert.match(await page.evaluate(`document.getElementById('no-webhid').innerText`), /Chrome.*Edge.*Opera.*Chromium/s);
            await page.screenshot(path.join(s.out, `single-no-webhid-${scripts ? 'scripts' : 'no-scripts'}.png`));
            if (scripts) {
                // Without WebHID the demo still runs.
                await page.click('#demo-try-nohid');
                await page.waitFor(`${shown('console')} && ${textOf(control('console', 1011))} === 'TALMO V0.23'`, 30000, 'the demo');
                assert.equal(await page.evaluate(status('connection')), 'USB: TALMO connecté (TALMO virtuel)');
            }
            await page.close();
        }
    } finally {
        await browser.close();
    }
}

// talmo-tools.html copied alone into a folder and opened from disk: every
// picture inside it, the PIC's jobs, a job that fails inside the page, then
// the automatic update, the firmware file chosen when the page asks for it.
async function single(s) {
    const firmwareHex = path.join(s.out, 'firmware.hex');
    fs.rmSync(firmwareHex, { force: true });
    await s.cli('save', ['firmware', 'save', firmwareHex]);
    const page = await s.open();
    assert.deepEqual(
        await page.evaluate(`[...${JSON.stringify(fs.readdirSync(path.join(process.env.TALMO_WEB_SITE, 'pictures')))}.filter((f) => !window.talmoPictures[f]),
            ...[...document.images].filter((i) => i.src && !(i.src.startsWith('data:') && i.complete && i.naturalWidth)).map((i) => i.src)]`),
        [],
        'pictures missing from the single page',
    );
    await s.settle(() => page.click(control('console', 1041)), shown('programmer'));
    await s.settle(() => page.click(control('programmer', 1043)));
    assert.match(await page.evaluate(textOf(control('programmer', 1047))), /^PIC16F873A/);
    await s.screenshot('single-programmer');
    const [, file] = await s.download(() =>
        s.settle(async () => {
            await page.click(control('programmer', 1045));
            await s.saveAs('velkor.hex');
        }),
    );
    const program = async () => {
        await page.click(control('programmer', 1046));
        await s.openFile(file);
    };
    await s.settle(async () => {
        await program();
        await s.answer('yes');
    });
    assert.equal(await page.evaluate(status('message')), 'Programmation+Vérification: OK');

    // The chosen file cannot be read: the user is told, and the page goes on.
    await page.evaluate(`(() => { const read = File.prototype.arrayBuffer;
        File.prototype.arrayBuffer = function () { File.prototype.arrayBuffer = read; return Promise.reject(new Error('fichier illisible')); }; })()`);
    await page.click(control('programmer', 1046));
    await s.openFile(file);
    const [caption, text] = await s.answer('ok');
    assert.equal(caption, 'Erreur');
    assert.match(text, /^Une erreur inattendue a interrompu l'opération en cours :\nfichier illisible\n/);
    await page.waitFor(`${idle} && ${shown('console')} && ${textOf(control('console', 1011))} === 'TALMO V0.23'`, 30000, 'the console again');
    await s.settle(() => page.click(control('console', 1041)), shown('programmer'));
    await s.settle(() => page.click(control('programmer', 1043)));
    assert.match(await page.evaluate(textOf(control('programmer', 1047))), /^PIC16F873A/);
    await s.settle(() => page.click(control('programmer', 1044)), shown('console'));

    // No talmo.hex beside a page on disk: the automatic update asks for it.
    await page.click('#auto-box');
    await s.settle(
        async () => {
            await page.click(control('console', 1027));
            await page.waitFor(`document.getElementById('open-dialog').open`, 30000, 'the question');
            assert.match(await page.evaluate(textOf('#open-note')), /«\u00a0talmo\.hex\u00a0»/);
            await s.screenshot('single-firmware-question');
            await s.openFile(firmwareHex);
        },
        `${shown('console')} && ${status('message')} === 'Programmation: OK'`,
    );
}

// The served page as an application: installable, opened again without the
// network, and a new version on the host taken at the next start, whole.
async function offline(s) {
    s.site = path.join(s.out, 'site');
    fs.rmSync(s.site, { recursive: true, force: true });
    fs.cpSync(process.env.TALMO_WEB_SITE, s.site, { recursive: true });
    const page = await s.open();
    const consoleUp = `${idle} && ${shown('console')} && ${textOf(control('console', 1011))} === 'TALMO V0.23'`;
    await page.waitFor(`${consoleUp} && navigator.serviceWorker.controller !== null`, 30000, 'the service worker');
    assert.deepEqual((await page.send('Page.getInstallabilityErrors')).installabilityErrors, []);

    const { port } = s.server;
    await s.server.close();
    await page.send('Network.enable');
    await page.send('Network.emulateNetworkConditions', { offline: true, latency: 0, downloadThroughput: -1, uploadThroughput: -1 });
    await page.goto(s.url);
    await page.waitFor(consoleUp, 60000, 'the console without the network');
    await page.send('Network.emulateNetworkConditions', { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: -1 });
    s.server = await serve(s.site, { port });

    // A new program alone (a custom section added to the module): a new version.
    const wasm = path.join(s.site, 'talmo-web.wasm');
    const mark = Buffer.concat([Buffer.from([0, 13, 10]), Buffer.from('talmo-testv2')]);
    fs.appendFileSync(wasm, mark);
    const buildSite = fileURLToPath(new URL('../../web/build-site.mjs', import.meta.url));
    const template = fileURLToPath(new URL('../../web/site/sw.js', import.meta.url));
    execFileSync(process.execPath, [buildSite, 'worker', s.site, template, path.join(s.site, 'sw.js')]);
    await page.evaluate('window.talmoServiceWorker.update()');
    await page.waitFor(`document.getElementById('update-ready')?.textContent.includes('prochain démarrage')`, 30000, 'the new version');
    await new Promise((resolve) => setTimeout(resolve, 500));
    assert.ok(await page.evaluate('navigator.serviceWorker.getRegistration().then((r) => r.waiting !== null)'), 'the new version waits');
    const served = `fetch('talmo-web.wasm').then((r) => r.arrayBuffer()).then((b) => b.byteLength)`;
    assert.equal(await page.evaluate(served), fs.statSync(wasm).size - mark.length, 'the old program until the next start');
    await page.goto(s.url);
    await page.waitFor(consoleUp, 60000, 'the console, new version');
    assert.equal(await page.evaluate(served), fs.statSync(wasm).size, 'the new program after it');
}

// name: [run, options of the session]
const scenarios = {
    'pic-block': [pic],
    firmware: [firmware],
    console: [console_],
    'demo-pic-block': [pic, { demo: true, chip: '16f877a' }],
    'demo-pic-word': [pic, { demo: true, chip: '16f873' }],
    'demo-firmware': [firmware, { demo: true }],
    'demo-console': [console_, { demo: true }],
    access: [access, { policy: false }],
    single: [single, { file: 'talmo-tools.html' }],
    offline: [offline],
};

const name = process.argv[2];
if (!scenarios[name]) {
    console.error(`usage: run.mjs ${Object.keys(scenarios).join('|')}`);
    process.exit(2);
}
for (const v of ['TALMO_WEB_SITE', 'TALMO_CLI'])
    if (!process.env[v]) {
        console.error(`${v} is not set`);
        process.exit(2);
    }
const [run, options] = scenarios[name];
const WATCHDOG_S = Number(process.env.TALMO_WEB_WATCHDOG_S ?? 220);
const out = path.resolve(process.env.TALMO_WEB_OUT || 'web-out', name);
fs.mkdirSync(out, { recursive: true });
// The single page, copied alone into a folder of its own.
if (options?.file) {
    const alone = fs.mkdtempSync(path.join(os.tmpdir(), 'talmo-single-'));
    options.file = path.join(alone, options.file);
    fs.copyFileSync(path.join(process.env.TALMO_WEB_SITE, '..', 'talmo-tools.html'), options.file);
}
fs.rmSync(path.join(out, 'simulated'), { recursive: true, force: true });
const session = new Session({ out, site: process.env.TALMO_WEB_SITE, ...options });
// A scenario stuck somewhere says where before ctest's timeout kills it.
const watchdog = setTimeout(async () => {
    console.error(`${name}: still running after ${WATCHDOG_S} s`);
    console.error(session.talmo.lines().filter((l) => l.startsWith('#')).slice(-3).join('\n'));
    console.error(session.talmo.lines().slice(-3).map((l) => l.slice(0, 60)).join('\n'));
    console.error(await session.page?.evaluate(`document.body.innerText`).catch((e) => e.message));
    process.exit(1);
}, WATCHDOG_S * 1000);
watchdog.unref();
let code = 0;
try {
    await run(session);
    await session.checkPolicy();
    if (session.differences.length) throw new Error(session.differences.join('\n'));
    console.log(`${name}: passed`);
} catch (e) {
    console.error(`${name}: ${e.stack || e}`);
    code = 1;
    // What the page showed then.
    await session.screenshot('failure').catch(() => {});
    console.error(await session.page?.evaluate(`document.body.innerText`).catch((e) => e.message));
    console.error(session.talmo.lines().slice(-8).map((l) => l.slice(0, 60)).join('\n'));
} finally {
    await session.close();
}
process.exit(code);
