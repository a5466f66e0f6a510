// A static server for the web page on 127.0.0.1 (no npm package), with the
// page's content security policy as a header, as a host should send it:
//
//   node web/serve.mjs SITE [PORT]       serves SITE until stopped
//   import { serve } from './serve.mjs'  (the browser tests: a port the system chooses)
import { createServer } from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.hex': 'text/plain; charset=utf-8',
  '.json': 'application/json',
  '.webmanifest': 'application/manifest+json',
};

// The policy the page names in its own head: one text for both.
export function pagePolicy(site) {
  const html = fs.readFileSync(path.join(site, 'index.html'), 'utf8');
  return html.match(/<meta http-equiv="Content-Security-Policy" content="([^"]*)">/)?.[1] ?? null;
}

// Serves the files under root on 127.0.0.1:port (0: the system chooses).
// Resolves to { origin, port, close() }. headers: more headers on every answer.
export function serve(root, { port = 0, headers = {} } = {}) {
  const base = path.resolve(root);
  const policy = pagePolicy(base);
  const server = createServer((req, res) => {
    const urlPath = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = path.join(base, urlPath.endsWith('/') ? urlPath + 'index.html' : urlPath);
    if (file !== base && !file.startsWith(base + path.sep)) {
      res.writeHead(403).end();
      return;
    }
    fs.readFile(file, (err, data) => {
      if (err) {
        res.writeHead(404, { 'Content-Type': 'text/plain; charset=utf-8' }).end('not found');
        return;
      }
      res
        .writeHead(200, {
          'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream',
          'Cache-Control': 'no-cache',
          ...(policy ? { 'Content-Security-Policy': policy } : {}),
          ...headers,
        })
        .end(data);
    });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => {
      const chosen = server.address().port;
      resolve({
        port: chosen,
        origin: `http://127.0.0.1:${chosen}`,
        close: () =>
          new Promise((done) => {
            server.close(done);
            server.closeAllConnections();
          }),
      });
    });
  });
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const [site, port = '8080'] = process.argv.slice(2);
  if (!site || !fs.existsSync(path.join(site, 'index.html'))) {
    console.error('usage: node serve.mjs SITE [PORT]   (SITE: the built site folder, with index.html)');
    process.exit(2);
  }
  await serve(site, { port: Number(port) });
}
