// Build steps of the web page, run by CMake with node (no npm package):
//
//   node build-site.mjs worker SITE TEMPLATE OUT   the service worker: TEMPLATE with the
//                                                  list of the page's files and their version
//   node build-site.mjs maskable SVG OUT           the program's icon on a full square, inside
//                                                  the safe zone of a maskable icon
//   node build-site.mjs single SITE OUT            talmo-tools.html: the page with its styles,
//                                                  scripts, pictures and program inside it
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

const sha256 = (data) => crypto.createHash('sha256').update(data).digest('base64');

// The files the served page is made of, relative to SITE, sorted: what the
// service worker keeps. The page's own address is "./".
export function siteFiles(site) {
  const walk = (dir) =>
    fs.readdirSync(path.join(site, dir), { withFileTypes: true }).flatMap((e) => {
      const name = dir ? `${dir}/${e.name}` : e.name;
      return e.isDirectory() ? walk(name) : [name];
    });
  const kept = /\.(html|css|js|wasm|svg|png|webmanifest)$/;
  return walk('')
    .filter((f) => kept.test(f) && f !== 'sw.js' && f !== 'index.html')
    .sort();
}

function worker(site, template, out) {
  const files = siteFiles(site);
  // The version: every kept byte, so that any change of any file is a new version.
  const hash = crypto.createHash('sha256');
  for (const f of ['index.html', ...files]) hash.update(f).update(fs.readFileSync(path.join(site, f)));
  const text = fs
    .readFileSync(template, 'utf8')
    .replace("'@VERSION@'", JSON.stringify(hash.digest('hex').slice(0, 16)))
    .replace("['@FILES@']", JSON.stringify(['./', ...files]));
  fs.writeFileSync(out, text);
}

function maskable(svg, out) {
  // The icon at 56 % of the side, centred: its corners stay inside the
  // circle of 80 % that every launcher's mask keeps.
  const inner = fs
    .readFileSync(svg, 'utf8')
    .replace(/<\?xml[^>]*>\s*/, '')
    .replace(/<svg\b[^>]*?\bwidth="[^"]*"\s+height="[^"]*"/, '<svg x="7" y="7" width="18" height="18"');
  fs.writeFileSync(
    out,
    '<svg xmlns="http://www.w3.org/2000/svg" width="512" height="512" viewBox="0 0 32 32">\n' +
      '<rect width="32" height="32" fill="#d5dbe1"/>\n' +
      inner +
      '</svg>\n',
  );
}

// A script or style inside the page: nothing in it may end its element early.
const inlineText = (text) => text.replace(/<\/(script|style)/gi, '<\\/$1').replace(/<!--/g, '<\\!--');

function single(site, out) {
  const read = (f) => fs.readFileSync(path.join(site, f));
  const hashes = { script: [], style: [] };
  const inline = (kind, text) => {
    const body = inlineText(text);
    hashes[kind].push(`'sha256-${sha256(body)}'`);
    return `<${kind}>${body}</${kind}>`;
  };
  const dataUri = (file) => `data:image/svg+xml;base64,${read(`pictures/${file}`).toString('base64')}`;
  let html = read('index.html').toString('utf8');
  const swap = (from, to) => {
    if (!html.includes(from)) throw new Error(`index.html: no ${from}`);
    html = html.replace(from, () => to);
  };
  // Opened from disk there is no manifest to read and no service worker.
  swap('<link rel="manifest" href="manifest.webmanifest">\n', '');
  swap('<link rel="stylesheet" href="style.css">', inline('style', read('style.css').toString('utf8')));
  swap('<link rel="stylesheet" href="noscript.css">', inline('style', read('noscript.css').toString('utf8')));
  html = html.replace(/\b(src|href)="pictures\/([^"]+)"/g, (_, attr, file) => `${attr}="${dataUri(file)}"`);
  const pictures = fs.readdirSync(path.join(site, 'pictures')).filter((f) => f.endsWith('.svg')).sort();
  const pictureMap = Object.fromEntries(pictures.map((f) => [f, dataUri(f)]));
  // The program with the demo inside it, whose module is text the page
  // decodes (a data block, not a script), in place of the served page's
  // program without the demo.
  swap(
    '<script src="talmo-web.js"></script>',
    `<script type="application/octet-stream" id="talmo-wasm">${read('talmo-demo.wasm').toString('base64')}</script>\n` +
      inline('script', `window.talmoPictures = ${JSON.stringify(pictureMap)};`) +
      '\n' +
      inline('script', read('talmo-demo.js').toString('utf8')),
  );
  html = html.replace(/<script src="([a-z]+\.js)"><\/script>/g, (_, file) => inline('script', read(file).toString('utf8')));
  if (/\b(src|href)="(?!data:|#)[^"]*"/.test(html.replace(/<script[\s\S]*?<\/script>/g, '')))
    throw new Error('index.html: a file the single page would not carry');
  // The same strict policy as the served page, with the page's own scripts
  // and styles named by their digests.
  swap(
    html.match(/<meta http-equiv="Content-Security-Policy" content="[^"]*">/)?.[0] ?? 'Content-Security-Policy',
    `<meta http-equiv="Content-Security-Policy" content="default-src 'none'; ` +
      `script-src ${hashes.script.join(' ')} 'wasm-unsafe-eval'; style-src ${hashes.style.join(' ')}; ` +
      `img-src data:; form-action 'none'; base-uri 'none'">`,
  );
  fs.writeFileSync(out, html);
}

const [command, ...args] = process.argv.slice(2);
const commands = { worker, maskable, single };
if (!commands[command] || args.length !== commands[command].length) {
  console.error('usage: build-site.mjs worker SITE TEMPLATE OUT | maskable SVG OUT | single SITE OUT');
  process.exit(2);
}
commands[command](...args);
