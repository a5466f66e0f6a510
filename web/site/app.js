// The page's glue: starts the program behind the page, feeds it the user's
// actions, the device's arrivals and removals and the console's 50 ms poll,
// one job at a time, and hands the user the files it saved.
"use strict";
(() => {

const PAGES = { bootloader: 0, console: 1, waiting: 2, programmer: 3 };
const EVENTS = { click: 0, input: 1, blur: 2, toggle: 3 };
const POLL_MS = 50;
const FILTERS = [
  { vendorId: 0x04d8, productId: 0x00aa }, // normal mode
  { vendorId: 0x04d8, productId: 0x00a9 }, // boot loader
];
const CONNECT_NOTE =
  "Le navigateur ne laisse la page utiliser le TALMO qu'avec votre accord. " +
  "Branchez le TALMO, cliquez sur «\u00a0Connecter le TALMO\u00a0» et choisissez-le dans la liste. " +
  "Après «\u00a0Mise à jour\u00a0», le TALMO redémarre dans son boot loader\u00a0: " +
  "le navigateur peut demander votre accord une seconde fois, cliquez alors encore ici.";

const view = createView(document);

if (!("hid" in navigator) || typeof createTalmoModule !== "function") {
  view.showNoWebHid();
} else {
  start();
}

// The firmware file that the automatic update programs, "talmo.hex", is the
// one that the site keeps beside the page, if any: copied into the
// program's file system before it starts.
async function loadDefaultFirmware(Module) {
  try {
    const answer = await fetch("talmo.hex", { cache: "no-store" });
    if (answer.ok)
      Module.FS.writeFile("talmo.hex", new Uint8Array(await answer.arrayBuffer()));
  } catch (e) {
    // none: the automatic update says so when it needs it
  }
}

async function start() {
  const saves = [];
  const Module = await createTalmoModule({ talmoView: view, talmoSaves: saves });
  const call = (name, types = [], args = []) =>
    Module.ccall(name, null, types, args, { async: true });

  // One job at a time. A user's job (a button, a device change) marks the
  // page busy and takes no other action meanwhile; the poll's ticks do not.
  let queue = Promise.resolve();
  let waiting = 0;
  let userJob = false;
  function job(work, fromUser) {
    waiting++;
    queue = queue.then(async () => {
      waiting--;
      if (fromUser) {
        userJob = true;
        view.setBusy(true);
      }
      try {
        await work();
      } catch (e) {
        console.error(e);
      } finally {
        await deliverSaves();
        if (fromUser) {
          view.progressEnd();
          userJob = false;
          view.setBusy(false);
          showConnect();
        }
      }
    });
    return queue;
  }

  // What the program wrote under /enregistrements during the job goes to the
  // user; a failed save wrote nothing there.
  async function deliverSaves() {
    while (saves.length) {
      const { path, saved } = saves.shift();
      let bytes = null;
      try {
        bytes = Module.FS.readFile(path);
        Module.FS.unlink(path);
      } catch (e) {
        continue; // nothing was written
      }
      try {
        await view.deliver(saved, bytes);
      } catch (e) {
        await view.box(
          "Le fichier " + saved.name + " n'a pas pu être enregistré :\n" + e.message,
          "Erreur", "error", "ok");
      }
    }
  }

  function showConnect() {
    view.showConnect(!Module.ccall("talmo_connected", "number", [], []), CONNECT_NOTE);
  }

  let changePending = false;
  Module.talmoHid.onEvents = () => {
    if (changePending) return;
    changePending = true;
    job(() => {
      changePending = false;
      return call("talmo_devices_changed");
    }, true);
  };

  view.onCommand((page, control, kind, value) => {
    if (userJob) return; // the page takes no input during an operation
    const text = kind === "toggle" ? (value ? "1" : "0") : String(value ?? "");
    job(() => call("talmo_command", ["number", "number", "number", "string"],
                   [PAGES[page], control, EVENTS[kind], text]), kind !== "input");
  });

  view.onConnect(async () => {
    let devices = [];
    try {
      devices = await navigator.hid.requestDevice({ filters: FILTERS });
    } catch (e) {
      return; // the chooser was closed
    }
    Module.talmoHid.granted(devices);
  });

  // Leaving the page in the middle of a job would cut a programming short.
  window.addEventListener("beforeunload", (e) => {
    if (!userJob) return;
    e.preventDefault();
    e.returnValue = "";
  });

  setInterval(() => {
    if (waiting === 0 && !userJob) job(() => call("talmo_tick"), false);
  }, POLL_MS);

  await loadDefaultFirmware(Module);
  await job(() => call("talmo_start"), true);
  window.talmoReady = true;
}
})();
