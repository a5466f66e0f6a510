// The web page's accessibility, with no TALMO: axe-core (tests/web/node_modules,
// `npm ci` in tests/web) in headless Chromium on each page and dialog, the
// keyboard (Tab reaches every control and shows where it is, Enter, Space and
// Escape answer the box) and the page's policy (nothing blocked).
//   TALMO_WEB_SITE=build-web/web/site node tests/web/a11y.mjs
// Exits 1 on any critical or serious violation or failed check, each said with
// its rule, impact and elements. TALMO_WEB_OUT: where the screenshot goes.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { serve, launch } from './cdp.mjs';

const axeSource = fs.readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
const out = process.env.TALMO_WEB_OUT || 'web-out';
const keys = {
    Tab: { key: 'Tab', code: 'Tab', windowsVirtualKeyCode: 9 },
    Enter: { key: 'Enter', code: 'Enter', windowsVirtualKeyCode: 13, text: '\r' },
    Space: { key: ' ', code: 'Space', windowsVirtualKeyCode: 32, text: ' ' },
    Escape: { key: 'Escape', code: 'Escape', windowsVirtualKeyCode: 27 },
};
// What the policy blocked, from the document's start.
const init = `window.blocked = [];
document.addEventListener('securitypolicyviolation', (e) =>
    blocked.push(e.violatedDirective + ' ' + (e.blockedURI || 'inline') + ' ' + e.sourceFile + ':' + e.lineNumber));`;
// The element with the focus, by id, else its page or dialog and its control or answer.
const focused = `(() => {
    const e = document.activeElement;
    if (!e || e === document.body) return null;
    if (e.id) return '#' + e.id;
    const at = e.dataset.control ? '[data-control="' + e.dataset.control + '"]' : '[data-answer="' + e.dataset.answer + '"]';
    return '#' + e.closest('section, dialog').id + ' ' + at;
})()`;
// The keyboard's next Tab from the document's start.
const fromStart = 'document.activeElement.blur(); getSelection().collapse(document.body, 0)';
// A page or dialog as the user sees it, from a view of its own.
const shown = {
    waiting: `view.showPage('waiting')`,
    console: `view.showPage('console')`,
    bootloader: `view.showPage('bootloader')`,
    programmer: `view.showPage('programmer')`,
    box: `view.box('Programmer cette version ?\\nV1.23', 'Programmation', 'question', 'yesnocancel')`,
    'open dialog': `view.openFile({ title: 'Ouvrir', filters: [{ label: 'Fichiers hex (*.hex)', patterns: '*.hex' }] })`,
    'save dialog': `view.saveFile({ title: 'Enregistrer sous', suggestedName: 'velkor.hex', filters: [{ label: 'Fichiers hex (*.hex)', patterns: '*.hex' }] })`,
};

const faults = [];
const site = await serve(process.env.TALMO_WEB_SITE || 'build-web/web/site');
const browser = await launch();
try {
    const page = await browser.newPage(site.origin + '/', { init });
    const press = async (name) => {
        for (const type of ['keyDown', 'keyUp']) {
            const { text, ...key } = keys[name];
            await page.send('Input.dispatchKeyEvent', { type, ...key, ...(type === 'keyDown' && text ? { text } : {}) });
        }
    };
    // The page's critical and serious violations, each said as a fault.
    async function audit(what, page) {
        const found = await page.evaluate(`axe.run(document, { resultTypes: ['violations'] }).then((r) =>
            r.violations.map((v) => ({ id: v.id, impact: v.impact, targets: v.nodes.map((n) => n.target.join(' ')) })))`);
        for (const v of found) {
            const line = `${what}: ${v.id} (${v.impact}) ${v.targets.join(', ')}`;
            if (['critical', 'serious'].includes(v.impact)) faults.push(line);
            else console.log(`note: ${line}`);
        }
    }
    // Tab from the start of the page: every control shown is reached, each
    // with a ring; not the read-only edits, which only show a value. The
    // console's first one is kept as a picture (TALMO_WEB_OUT).
    async function tabThrough(what) {
        await page.evaluate(fromStart);
        const controls = await page.evaluate(`[...document.querySelectorAll('section:not([hidden]) :is(button, input, select)')]
            .filter((e) => !e.disabled && !e.readOnly && e.getClientRects().length && getComputedStyle(e).visibility === 'visible')
            .length`);
        const reached = [];
        for (let i = 0; i < controls + 2 && reached.length < controls; i++) {
            await press('Tab');
            const at = await page.evaluate(focused);
            if (!at || reached.includes(at)) continue;
            reached.push(at);
            const ring = await page.evaluate('getComputedStyle(document.activeElement).outlineStyle');
            if (ring === 'none') faults.push(`${what}: ${at} has the focus and no ring`);
            if (what === 'console' && reached.length === 1) await page.screenshot(path.join(out, 'a11y-console-focus.png'));
        }
        if (reached.length !== controls) faults.push(`${what}: Tab reached ${reached.length} of ${controls} controls: ${reached.join(', ')}`);
        return reached;
    }

    fs.mkdirSync(out, { recursive: true });
    await page.waitFor('window.talmoReady === true', 30000, 'the page started');
    const start = await tabThrough('waiting');
    for (const control of ['#connect', '#page-waiting [data-control="106"]'])
        if (!start.includes(control)) faults.push(`waiting: Tab from the start does not reach ${control}`);

    await page.evaluate(axeSource);
    await page.evaluate('window.view = createView(document); 0');
    for (const [what, show] of Object.entries(shown)) {
        await page.evaluate(`${show}; 0`);
        if (!show.startsWith('view.showPage')) await page.waitFor('document.querySelector("dialog[open]")', 5000, `the ${what}`);
        else if (what !== 'waiting') await tabThrough(what);
        await audit(what, page);
        await page.evaluate('document.querySelector("dialog[open]")?.close(); 0');
    }

    // The box answers from the keyboard as a desktop one: the focus on its
    // first button, Escape the most cautious answer there is.
    for (const [buttons, typed, answer] of [
        ['okcancel', ['Escape'], 'cancel'],
        ['yesno', ['Escape'], 'no'],
        ['ok', ['Escape'], 'ok'],
        ['yesno', ['Enter'], 'yes'],
        ['yesnocancel', ['Tab', 'Space'], 'no'],
    ]) {
        await page.evaluate(`window.answer = view.box('Texte', 'Titre', 'warning', '${buttons}'); 0`);
        await page.waitFor('document.querySelector("#box[open]")', 5000, 'the box');
        for (const key of typed) await press(key);
        const got = await page.evaluate('Promise.race([answer, new Promise((r) => setTimeout(() => r("none"), 2000))])');
        if (got !== answer) faults.push(`box ${buttons}, ${typed.join(' ')}: answered ${got}, not ${answer}`);
    }

    // The installed application's window has the system's title bar, not the
    // page's; its heading stays for assistive technologies. Chromium cannot
    // be told it runs installed: the sheet's rules for it are made to apply.
    const titleBar = `(() => { const h1 = getComputedStyle(document.querySelector('#window > .titlebar h1'));
        return [document.querySelector('#window > .titlebar').offsetHeight > 1, h1.display !== 'none' && h1.visibility === 'visible']; })()`;
    const installed = `for (const sheet of document.styleSheets) for (const rule of sheet.cssRules)
        if (rule.media?.mediaText.includes('display-mode: standalone')) rule.media.mediaText = 'all'`;
    for (const [mode, drawn] of [['in a tab', true], ['installed', false]]) {
        if (!drawn) await page.evaluate(installed);
        const [bar, heading] = await page.evaluate(titleBar);
        if (bar !== drawn || !heading) faults.push(`${mode}: title bar drawn ${bar}, heading kept ${heading}`);
    }
    await audit('installed', page);

    // The demo: its banner and the virtual TALMO's panel.
    await page.evaluate(`view.showPage('waiting'); 0`);
    await page.click('#demo-try');
    await page.waitFor(`!document.getElementById('demo-panel').hidden && !document.body.dataset.busy`, 30000, 'the demo');
    await audit('demo', page);

    // Without WebHID: the page that says which browsers have it.
    const bare = await browser.newPage(site.origin + '/', { init: init + 'delete Navigator.prototype.hid;' });
    await bare.waitFor('!document.querySelector("#no-webhid").hidden', 10000, 'the page without WebHID');
    await bare.evaluate(axeSource);
    await audit('without WebHID', bare);
    const blocked = [...(await page.evaluate('blocked')), ...(await bare.evaluate('blocked'))];
    for (const b of blocked) faults.push(`policy blocked: ${b}`);
} catch (e) {
    faults.push(e.message);
} finally {
    await browser.close();
    await site.close();
}
console.log(faults.length ? faults.join('\n') : 'a11y: passed');
process.exitCode = faults.length ? 1 : 0;
