// The page's fault sweep, on its own demo at the fast pace: for each job, a
// fault (no answer, wrong echo, removal, in turn) at positions spread over
// the job, phase boundaries included. Every run must end with the page
// usable and either an error said in a box with no success claimed before
// it, or (where the program got over the fault by itself) success and no
// error; the same job run again must then succeed.
//   node tests/web/sweep.mjs [POSITIONS]   (per job; default 100)
// Environment as run.mjs (TALMO_WEB_SITE, TALMO_CLI, TALMO_WEB_OUT).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { Session, control, idle, isPoll, textOf } from './session.mjs';

const count = Number(process.argv[2] ?? 100);
const out = path.resolve(process.env.TALMO_WEB_OUT || 'web-out', 'sweep');
const kFaults = ['no-answer', 'wrong-echo', 'unplug'];
const message = textOf('#status-message');
const boxOpen = `document.getElementById('box').open`;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The jobs: where each starts, how the user starts it, what it says when it worked.
const kJobs = [
    { name: 'pic-block', chip: '16f877a', page: 'programmer', ok: 'Programmation+Vérification: OK' },
    { name: 'pic-word', chip: '16f873', page: 'programmer', ok: 'Programmation+Vérification: OK' },
    { name: 'boot-loader', page: 'bootloader', ok: 'Programmation: OK' },
    { name: 'automatic', page: 'console', ok: 'Programmation: OK', auto: true },
];

// Brings the page back to the job's first page, the TALMO plugged, no fault armed.
async function reset(s, job) {
    const page = s.page;
    if ((await page.evaluate(textOf('#demo-plug'))) === 'Brancher') await page.click('#demo-plug');
    await page.evaluate(`window.talmoDemo.act('clear-faults')`);
    for (let tries = 0; tries < 20; tries++) {
        await page.waitFor(`${idle} && !${boxOpen}`, 60000, 'the page idle');
        await sleep(150);
        const on = await page.evaluate(`['waiting', 'console', 'bootloader', 'programmer'].find((p) => !document.getElementById('page-' + p).hidden)`);
        if (on === job.page && (await page.evaluate(`${idle} && !${boxOpen}`))) return;
        if (await page.evaluate(boxOpen)) await page.click('#box [data-answer="ok"]');
        else if (on === 'console') await s.page.click(control('console', job.page === 'bootloader' ? 1027 : 1041));
        else if (on === 'programmer' || on === 'bootloader') await s.page.click(control(on, 1044));
    }
    throw new Error(`${job.name}: cannot get back to the ${job.page} page`);
}

// Runs the job once, answering its boxes and its file dialog; what it
// showed, each box with what the status bar had said during the run.
async function run(s, job, file) {
    const page = s.page;
    const before = await page.evaluate(`window.said = []; window.jobsDone`);
    const boxes = [];
    await s.page.click(control(job.page, job.auto ? 1027 : job.page === 'bootloader' ? 1053 : 1046));
    let quiet = 0;
    for (const end = Date.now() + 120000; Date.now() < end; await sleep(50)) {
        const box = await page.evaluate(
            `${boxOpen} && [${textOf('#box-caption')}, ${textOf('#box-text')}, document.getElementById('box-icon').dataset.icon, window.said.slice()]`,
        );
        if (box) {
            boxes.push(box);
            const yes = await page.evaluate(`!document.querySelector('#box [data-answer="yes"]').hidden`);
            await page.click(`#box [data-answer="${yes ? 'yes' : 'ok'}"]`);
            quiet = 0;
        } else if (await page.evaluate(`document.getElementById('open-dialog').open`)) {
            await s.openFile(file);
            quiet = 0;
        } else if (await page.evaluate(`window.jobsDone > ${before} && ${idle}`)) {
            if (++quiet >= 10) break;
        } else quiet = 0;
    }
    const errors = boxes.filter(([, , icon]) => icon === 'error' || icon === 'warning');
    return { boxes, errors, message: await page.evaluate(message), idle: await page.evaluate(`${idle} && !${boxOpen}`) };
}

// Positions: where the kind of request changes (a phase), then evenly spread.
function positions(lines, n) {
    const kind = (l) => {
        const request = l.split(' ')[1];
        return request.slice(2, 4) + (request.slice(2, 4) === '59' ? request.slice(4, 6) : '');
    };
    const boundaries = lines.map((l, i) => i).filter((i) => i > 0 && kind(lines[i]) !== kind(lines[i - 1]));
    const picked = new Set(boundaries.filter((_, k) => k % Math.ceil(boundaries.length / (n / 2)) === 0));
    for (let k = 0; picked.size < Math.min(n, lines.length); k++) picked.add(Math.floor((k * lines.length) / n) % lines.length);
    return [...picked].sort((a, b) => a - b).slice(0, n);
}

async function sweep(job) {
    const s = new Session({ out: path.join(out, job.name), site: process.env.TALMO_WEB_SITE, demo: true, chip: job.chip });
    fs.mkdirSync(s.out, { recursive: true });
    const summary = { job: job.name, runs: 0, errors: 0, recovered: 0 };
    try {
        let file;
        if (job.auto) {
            // talmo.hex beside the page, as a workshop's site has it.
            const firmware = path.join(s.out, 'talmo.hex');
            fs.rmSync(path.join(s.out, 'simulated'), { recursive: true, force: true });
            await s.cli('save', ['firmware', 'save', firmware]);
            s.site = path.join(s.out, 'site');
            fs.cpSync(process.env.TALMO_WEB_SITE, s.site, { recursive: true });
            fs.copyFileSync(firmware, path.join(s.site, 'talmo.hex'));
        }
        const page = await s.open();
        // What the status bar says during a run.
        await page.evaluate(`new MutationObserver(() => window.said?.push(${message}))
            .observe(document.getElementById('status-message'), { childList: true, characterData: true, subtree: true })`);
        if (job.auto) await page.click('#auto-box');
        else {
            await reset(s, job);
            [, file] = await s.download(() =>
                s.settle(async () => {
                    await s.page.click(control(job.page, job.page === 'bootloader' ? 1052 : 1045));
                    await s.saveAs(`${job.name}.hex`);
                }),
            );
            // The read over, the same page is the job's first.
        }
        await reset(s, job);
        // The job without a fault: its exchanges, from here.
        const from = (await s.talmo.fetch()).length;
        const clean = await run(s, job, file);
        assert.equal(clean.message, job.ok, `${job.name} without a fault`);
        // Its exchanges, the console's polls after it left out.
        const lines = (await s.talmo.fetch()).slice(from);
        while (lines.length && isPoll(lines.at(-1).slice(lines.at(-1).indexOf(' ') + 1))) lines.pop();
        const at = positions(lines, count);
        for (const [k, p] of at.entries()) {
            await reset(s, job);
            const fault = kFaults[k % kFaults.length];
            await page.evaluate(`window.talmoDemo.act('fault ${fault} ${p}')`);
            const r = await run(s, job, file);
            const where = `${job.name}: ${fault} at ${p} of ${lines.length}`;
            assert.ok(r.idle, `${where}: the page is not usable`);
            if (r.errors.length) {
                summary.errors++;
                const claimed = r.errors.find(([, , , said]) => said.includes(job.ok));
                assert.equal(claimed, undefined, `${where}: success said before the error`);
            } else {
                summary.recovered++;
                assert.equal(r.message, job.ok, `${where}: neither an error nor success (boxes ${JSON.stringify(r.boxes)})`);
            }
            await reset(s, job);
            const again = await run(s, job, file);
            assert.equal(again.message, job.ok, `${where}: the job run again`);
            assert.deepEqual(again.errors, [], `${where}: the job run again`);
            summary.runs++;
        }
        await s.checkPolicy();
    } catch (e) {
        await s.screenshot('failure').catch(() => {});
        throw e;
    } finally {
        await s.close();
    }
    return summary;
}

let failed = false;
for (const job of kJobs) {
    try {
        const r = await sweep(job);
        console.log(`sweep ${r.job}: ${r.runs} faults, ${r.errors} said as errors, ${r.recovered} got over`);
    } catch (e) {
        console.error(`sweep ${job.name}: ${e.stack || e}`);
        failed = true;
    }
}
console.log(failed ? 'sweep: failed' : 'sweep: passed');
process.exit(failed ? 1 : 0);
