// The page's service worker: keeps every file of one version of the page, so
// that the page, installed as an application or not, opens without the
// network and still reaches the TALMO. The build fills in the version (a
// digest of every file) and the list of files.
//
// A new version on the host is kept whole beside the one in use and waits;
// the page takes it at its next start, before it opens the TALMO, never in
// the middle of a job. Every file of the page comes from one version: a
// script never meets another version's program.
const VERSION = '@VERSION@';
const FILES = ['@FILES@'];
const CACHE = `talmo-tools-${VERSION}`;

self.addEventListener('install', (event) => {
  event.waitUntil(
    caches.open(CACHE).then((cache) => cache.addAll(FILES.map((f) => new Request(f, { cache: 'reload' })))),
  );
});

self.addEventListener('activate', (event) => {
  event.waitUntil(
    (async () => {
      for (const key of await caches.keys())
        if (key.startsWith('talmo-tools-') && key !== CACHE) await caches.delete(key);
      await self.clients.claim();
    })(),
  );
});

// The page, at its start, when a new version waits.
self.addEventListener('message', (event) => {
  if (event.data === 'take-new-version') self.skipWaiting();
});

// The firmware file beside the page: the host's when it answers, else the
// copy kept from the last time.
async function firmware(request) {
  const cache = await caches.open('talmo-firmware');
  try {
    const answer = await fetch(request);
    if (answer.ok) await cache.put(request, answer.clone());
    else await cache.delete(request);
    return answer;
  } catch (e) {
    return (await cache.match(request)) ?? Response.error();
  }
}

self.addEventListener('fetch', (event) => {
  const request = event.request;
  const url = new URL(request.url);
  if (request.method !== 'GET' || url.origin !== self.location.origin) return;
  if (url.pathname.endsWith('/talmo.hex')) {
    event.respondWith(firmware(request));
    return;
  }
  event.respondWith(
    (async () => {
      const cache = await caches.open(CACHE);
      const kept =
        (await cache.match(request, { ignoreSearch: true })) ??
        (request.mode === 'navigate' ? await cache.match('./') : undefined);
      return kept ?? fetch(request);
    })(),
  );
});
