// The page's glue: starts the program behind the page, feeds it the user's
// actions, the device's arrivals and removals and the console's 50 ms poll,
// one job at a time, and hands the user the files it saved. A classic
// script, so that the page also works opened from disk (talmo-tools.html).
'use strict';
(() => {
  const POLL_MS = 50;
  const CONNECT_NOTE =
    "Le navigateur ne laisse la page utiliser le TALMO qu'avec votre accord. " +
    'Branchez le TALMO, cliquez sur «\u00a0Connecter le TALMO\u00a0» et choisissez-le dans la liste. ' +
    'Après «\u00a0Mise à jour\u00a0», le TALMO redémarre dans son boot loader\u00a0: ' +
    'le navigateur peut demander votre accord une seconde fois, cliquez alors encore ici.';
  const FROM_DISK = location.protocol === 'file:';
  // The firmware file that the automatic update programs.
  const FIRMWARE = 'talmo.hex';

  const view = createView(document);

  const page = {
    Module: null, // the program behind the page
    numbers: null, // the program's numbers for the page (talmo_numbers)
    generation: 0, // the program's number: an old one given up no longer reaches the page
    saves: [], // files the running job saved, for the user once it is over
    queue: Promise.resolve(), // the jobs, one at a time
    waiting: 0, // jobs queued
    userJob: false, // a user's job runs: the page takes no input
    failJob: null, // ends the running job with an error
    demo: { on: false, actions: [], log: [], fast: false },
  };
  const panel = createDemoPanel(document, demoAct, { onPace: demoPace, onLog: demoLog });

  if (typeof createTalmoModule !== 'function' && typeof createTalmoDemoModule !== 'function') {
    view.showCannotStart(FROM_DISK);
  } else if (!('hid' in navigator)) {
    view.showNoWebHid();
    document.getElementById('demo-try-nohid').addEventListener('click', () => {
      view.showWindow();
      start({ demo: true });
    });
  } else {
    start({ demo: false });
  }

  // The program's module: talmo-web (talmo-web.wasm beside the page), or
  // talmo-demo, the same with the virtual TALMO, fetched when the demo
  // starts; the single page carries only talmo-demo, inside it.
  async function createProgram(demo) {
    const mine = ++page.generation;
    const alive = () => mine === page.generation;
    const options = { talmoView: guarded(view, alive), talmoSaves: page.saves, talmoDemo: demoSide(alive) };
    const inside = document.getElementById('talmo-wasm');
    if (inside) options.wasmBinary = Uint8Array.from(atob(inside.textContent.trim()), (c) => c.charCodeAt(0));
    const withDemo = demo || inside || typeof createTalmoModule !== 'function';
    if (withDemo && typeof createTalmoDemoModule !== 'function') await loadScript('talmo-demo.js');
    const Module = await (withDemo ? createTalmoDemoModule : createTalmoModule)(options);
    Module.talmoHid.onEvents = onDeviceEvents;
    // The page kinds, controls, pictures, events and device identifiers,
    // from the program's own tables.
    page.numbers = JSON.parse(Module.ccall('talmo_numbers', 'string', [], []));
    view.useNumbers(page.numbers);
    await loadDefaultFirmware(Module);
    return Module;
  }

  function loadScript(src) {
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = src;
      script.onload = resolve;
      script.onerror = () => reject(new Error(`${src} n'a pas pu être chargé`));
      document.body.append(script);
    });
  }

  // The view as a program sees it: once that program is given up, nothing it
  // does reaches the page any more, and what it waits for never comes.
  function guarded(target, alive) {
    return new Proxy(target, {
      get(object, name) {
        const member = object[name];
        if (typeof member !== 'function') return member;
        return (...args) => (alive() ? member.apply(object, args) : new Promise(() => {}));
      },
    });
  }

  // The firmware file beside the page, if the site has one; a page opened
  // from disk has none (see askFirmware).
  async function loadDefaultFirmware(Module) {
    if (FROM_DISK) return;
    try {
      const answer = await fetch(FIRMWARE, { cache: 'no-store' });
      if (answer.ok) Module.FS.writeFile(FIRMWARE, new Uint8Array(await answer.arrayBuffer()));
    } catch (e) {
      // none: the automatic update asks for it
    }
  }

  const call = (name, types = [], args = []) => page.Module.ccall(name, null, types, args, { async: true });

  async function start({ demo }) {
    if ((await serviceWorker()) === 'reloading') return;
    try {
      page.Module = await createProgram(demo);
    } catch (e) {
      console.error(e);
      view.showCannotStart(FROM_DISK);
      return;
    }
    // An error that escapes the program while it waits on the browser ends
    // the job it interrupted.
    window.addEventListener('unhandledrejection', (e) => page.failJob?.(e.reason));
    window.addEventListener('error', (e) => page.failJob?.(e.error ?? e.message));
    listen();
    await job(() => call('talmo_start'), true);
    if (demo) await enterDemo();
    window.talmoReady = true;
  }

  // One job at a time. A user's job (a button, a device change) marks the
  // page busy and takes no other action meanwhile; the poll's ticks do not.
  function job(work, fromUser) {
    page.waiting++;
    page.queue = page.queue.then(async () => {
      page.waiting--;
      if (fromUser) {
        page.userJob = true;
        view.setBusy(true);
      }
      try {
        await Promise.race([work(), new Promise((_, reject) => (page.failJob = reject))]);
      } catch (e) {
        await recover(e);
      } finally {
        page.failJob = null;
        await deliverSaves();
        if (fromUser) {
          view.progressEnd();
          page.userJob = false;
          view.setBusy(false);
          showConnect();
        }
      }
    });
    return page.queue;
  }

  // The program given up for a new one (after a failure, or for the demo's):
  // the old one keeps no way to the TALMO, what it still sends fails.
  async function replaceProgram(demo) {
    const old = page.Module.talmoHid;
    if (old) {
      for (const device of old.devices.values()) device.oninputreport = null;
      old.devices.clear();
      old.open.clear();
      old.onEvents = null;
    }
    page.saves.length = 0;
    page.Module = await createProgram(demo);
  }

  // A job that failed inside the page: the user is told, the program is
  // given up (it may stand in the middle of its work) and started again,
  // and the page goes on from the TALMO as it finds it.
  async function recover(error) {
    console.error(error);
    const detail = error?.message ?? String(error);
    const demo = page.demo.on;
    try {
      await replaceProgram(demo);
    } catch (e) {
      console.error(e);
      view.showCannotStart(FROM_DISK);
      return;
    }
    await view.box(
      "Une erreur inattendue a interrompu l'opération en cours :\n" +
        detail +
        '\n\nLa page a redémarré. Vérifiez l\u2019état du TALMO, puis recommencez l\u2019opération.',
      'Erreur',
      'error',
      'ok',
    );
    await call('talmo_start');
    if (demo) await call('talmo_demo_enter', ['number'], [page.demo.fast ? 1 : 0]);
  }

  // What the program wrote under /enregistrements during the job goes to the
  // user; a failed save wrote nothing there.
  async function deliverSaves() {
    while (page.saves.length) {
      const { path, saved } = page.saves.shift();
      let bytes = null;
      try {
        bytes = page.Module.FS.readFile(path);
        page.Module.FS.unlink(path);
      } catch (e) {
        continue; // nothing was written
      }
      try {
        await view.deliver(saved, bytes);
      } catch (e) {
        await view.box('Le fichier ' + saved.name + " n'a pas pu être enregistré :\n" + e.message, 'Erreur', 'error', 'ok');
      }
    }
  }

  function showConnect() {
    const connected = page.Module.ccall('talmo_connected', 'number', [], []);
    view.showConnect(!connected && !page.demo.on && 'hid' in navigator, CONNECT_NOTE);
    view.showDemoOffer(!connected && !page.demo.on);
  }

  let changePending = false;
  function onDeviceEvents() {
    if (changePending) return;
    changePending = true;
    job(() => {
      changePending = false;
      return call('talmo_devices_changed');
    }, true);
  }

  // The user's actions, the device's arrivals and removals and the poll.
  function listen() {
    view.onCommand((pageName, control, kind, value) => {
      if (page.userJob) return; // the page takes no input during an operation
      const text = kind === 'toggle' ? (value ? '1' : '0') : String(value ?? '');
      const { pages, events, controls } = page.numbers;
      const automatic =
        pageName === 'console' && control === controls.console.updateButton && view.checked('console', controls.console.autoBox);
      job(async () => {
        if (automatic) await askFirmware(page.Module);
        await call('talmo_command', ['number', 'number', 'number', 'string'], [pages[pageName], control, events[kind], text]);
      }, kind !== 'input');
    });

    view.onConnect(async () => {
      let devices = [];
      try {
        devices = await navigator.hid.requestDevice({ filters: page.numbers.devices });
      } catch (e) {
        return; // the chooser was closed
      }
      page.Module.talmoHid.granted(devices);
    });

    document.getElementById('demo-try').addEventListener('click', () => {
      if (!page.userJob) job(enterDemo, true);
    });
    document.getElementById('demo-leave').addEventListener('click', () => {
      if (!page.userJob) job(leaveDemo, true);
    });

    // Leaving the page in the middle of a job would cut a programming short.
    window.addEventListener('beforeunload', (e) => {
      if (!page.userJob) return;
      e.preventDefault();
      e.returnValue = '';
    });

    setInterval(() => {
      if (page.waiting === 0 && !page.userJob) job(() => call('talmo_tick'), false);
    }, POLL_MS);
  }

  // ------------------------------------------------------------ the demo

  // The served page's program has no virtual TALMO: the demo's takes its place.
  async function enterDemo() {
    if (!page.Module._talmo_demo_enter) {
      await replaceProgram(true);
      await call('talmo_start');
    }
    page.demo.on = true;
    view.setDemo(true);
    panel.show(true);
    await call('talmo_demo_enter', ['number'], [page.demo.fast ? 1 : 0]);
  }

  // Back to the waiting page and a real TALMO; a browser without WebHID
  // goes back to the page that says so.
  async function leaveDemo() {
    await call('talmo_demo_leave');
    page.demo.on = false;
    page.demo.actions.length = 0;
    view.setDemo(false);
    panel.show(false);
    if (!('hid' in navigator)) view.showNoWebHid();
  }

  // The program's side of the demo (Module.talmoDemo): the exchanges it
  // logs, the bus's arrivals and removals, the panel's actions it takes, the
  // device's state it gives.
  function demoSide(alive) {
    return {
      line: (text) => alive() && page.demo.log.push(text),
      events: () => alive() && onDeviceEvents(),
      takeActions: () => (alive() ? page.demo.actions.splice(0) : []),
      state: (s) => alive() && panel.state(s),
    };
  }

  // A panel's action: the running job takes it at its next exchange or wait;
  // with none running, a job of its own passes it on.
  function demoAct(action) {
    page.demo.actions.push(action);
    if (page.waiting === 0 && !page.userJob) job(() => call('talmo_demo_apply'), false);
  }

  function demoPace(fast) {
    page.demo.fast = fast;
    job(() => call('talmo_demo_pace', ['number'], [fast ? 1 : 0]), false);
  }

  // The exchanges since the demo started, in talmo-cli --log's format.
  function demoLog() {
    const bytes = new TextEncoder().encode(page.demo.log.map((l) => l + '\n').join(''));
    view.deliver({ name: 'talmo-virtuel.log', filters: [] }, bytes).catch((e) => console.error(e));
  }
  // For scripts that drive the demo (the page's tests): the panel's actions
  // and the exchanges so far.
  window.talmoDemo = { act: demoAct, log: page.demo.log };

  // ------------------------------------------------------------ firmware file

  // The automatic update programs talmo.hex without asking which file. When
  // the page has none (opened from disk, or a site without it), it asks for
  // it once; a file chosen through the browser's own picker is remembered
  // (its handle kept in the page's storage) and used again at the next
  // start, the browser asking again for the permission to read it if it
  // wants to.
  async function askFirmware(Module) {
    if (Module.FS.analyzePath(FIRMWARE).exists) return;
    let bytes = await rememberedFirmware();
    if (!bytes) {
      const file = window.showOpenFilePicker ? await pickWithHandle() : await view.openFile(FIRMWARE_REQUEST);
      if (file) bytes = new Uint8Array(await file.arrayBuffer());
    }
    if (bytes) Module.FS.writeFile(FIRMWARE, bytes);
  }

  const FIRMWARE_QUESTION =
    "La mise à jour automatique programme le fichier du firmware du TALMO, «\u00a0talmo.hex\u00a0». " +
    (FROM_DISK
      ? "Ouverte depuis le disque, la page ne le trouve pas à côté d'elle"
      : "Le site qui publie la page n'en a pas placé à côté d'elle") +
    '\u00a0: choisissez ce fichier' +
    (window.showOpenFilePicker ? " (la page s'en souviendra pour les prochaines mises à jour)." : '.');
  const FIRMWARE_REQUEST = {
    title: 'Fichier du firmware (talmo.hex)',
    note: FIRMWARE_QUESTION,
    filters: [{ label: 'Fichiers HEX (*.hex *.HEX)', patterns: '*.hex *.HEX' }],
  };

  async function pickWithHandle() {
    if ((await view.box(FIRMWARE_QUESTION, 'Mise à jour automatique', 'information', 'okcancel')) !== 'ok') return null;
    let handle;
    try {
      [handle] = await window.showOpenFilePicker({
        types: [{ description: 'Fichiers HEX', accept: { 'application/octet-stream': ['.hex', '.HEX'] } }],
      });
    } catch (e) {
      return null; // the picker was closed
    }
    await keepHandle(handle).catch(() => {});
    return handle.getFile();
  }

  // The chosen file's handle, in the page's storage.
  function handleStore(mode, work) {
    return new Promise((resolve, reject) => {
      const opening = indexedDB.open('talmo-tools', 1);
      opening.onupgradeneeded = () => opening.result.createObjectStore('files');
      opening.onerror = () => reject(opening.error);
      opening.onsuccess = () => {
        const request = work(opening.result.transaction('files', mode).objectStore('files'));
        request.onsuccess = () => resolve(request.result);
        request.onerror = () => reject(request.error);
      };
    });
  }
  const keepHandle = (handle) => handleStore('readwrite', (store) => store.put(handle, FIRMWARE));

  async function rememberedFirmware() {
    try {
      const handle = await handleStore('readonly', (store) => store.get(FIRMWARE));
      if (!handle) return null;
      let permission = await handle.queryPermission({ mode: 'read' });
      if (permission === 'prompt') {
        const again =
          `La mise à jour automatique programme «\u00a0${handle.name}\u00a0», choisi la dernière fois. ` +
          'Le navigateur demande à nouveau votre accord pour le lire.';
        if ((await view.box(again, 'Mise à jour automatique', 'question', 'okcancel')) !== 'ok') return null;
        permission = await handle.requestPermission({ mode: 'read' });
      }
      if (permission !== 'granted') return null;
      return new Uint8Array(await (await handle.getFile()).arrayBuffer());
    } catch (e) {
      return null; // gone or moved: asked for again
    }
  }

  // ------------------------------------------------------------ new versions

  // The service worker keeps the page for use without the network. A version
  // that arrived while the page was last open is taken now, before the
  // program starts; one that arrives now waits for the next start.
  async function serviceWorker() {
    if (FROM_DISK || !('serviceWorker' in navigator)) return null;
    try {
      const registration = await navigator.serviceWorker.register('sw.js');
      if (registration.waiting && navigator.serviceWorker.controller) {
        const taken = new Promise((resolve) =>
          navigator.serviceWorker.addEventListener('controllerchange', resolve, { once: true }),
        );
        registration.waiting.postMessage('take-new-version');
        // The new version takes over at once; should its word be lost, the reload still takes it.
        await Promise.race([taken, new Promise((resolve) => setTimeout(resolve, 3000))]);
        location.reload();
        return 'reloading';
      }
      registration.addEventListener('updatefound', () => {
        const worker = registration.installing;
        worker?.addEventListener('statechange', () => {
          if (worker.state === 'installed' && navigator.serviceWorker.controller) view.showUpdateReady();
        });
      });
      window.talmoServiceWorker = registration;
    } catch (e) {
      console.warn(e); // the page works without it, with the network
    }
    return null;
  }
})();
