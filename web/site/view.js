// The page's view: everything that touches the document. The pages, their
// controls (named in the markup, found by the window's numeric identifiers
// that the program gives at start), the status bar, the
// message box and the file dialogs. No device logic here. A classic script:
// it defines createView() for app.js, also when the page is opened from disk.

// What a picture says of the state it shows, after the name of its control
// (data-name): "FDCs : contact fermé", for those who do not see it.
const pictureStates = {
  'switch_auto.svg': 'AUTO',
  'switch_manu.svg': 'MANU',
  'stop_lit.svg': 'allumé',
  'stop_dim.svg': 'éteint',
  'diamond_up.svg': 'relâchée',
  'diamond_down.svg': 'appuyée',
  'square_up.svg': 'relâchée',
  'square_down.svg': 'appuyée',
  'contact_closed.svg': 'contact fermé',
  'contact_open.svg': 'contact ouvert',
  'switch_on.svg': 'ON',
  'switch_off.svg': 'OFF',
};

const PAGES = ['waiting', 'console', 'bootloader', 'programmer'];

// Where a picture comes from: pictures/ beside the page, or the copies that
// the single-file page carries inside it (window.talmoPictures).
function pictureUrl(file) {
  return window.talmoPictures?.[file] ?? `pictures/${file}`;
}

// The waiting page's bar goes back and forth, 5 % every 50 ms.
const BAR_PERIOD_MS = 50;
const BAR_STEP = 5;
function nextBarMotion({ position, step }) {
  if (position - BAR_STEP < 4) step = BAR_STEP;
  if (position + BAR_STEP > 100) step = -BAR_STEP;
  position = Math.min(100, Math.max(0, position + step));
  return { position, step };
}

// The box's buttons, in the order shown, and its icons.
const BOX_BUTTONS = {
  ok: ['ok'],
  okcancel: ['ok', 'cancel'],
  yesno: ['yes', 'no'],
  yesnocancel: ['yes', 'no', 'cancel'],
};
const BOX_ICONS = { error: '\u2715', warning: '!', information: 'i', question: '?' };

// "*.hex *.HEX" -> ".hex,.HEX"; "*" and "*.*" accept anything.
function extensionsOf(filter) {
  return (filter?.patterns ?? '')
    .split(/[\s;]+/)
    .filter((p) => /^\*\.[^*.]+$/.test(p))
    .map((p) => p.slice(1));
}

// The name typed, without any folder, with the default extension when it has none.
function saveName(typed, defaultExtension) {
  const name = typed.trim().split(/[\\/]/).pop();
  const ext = (defaultExtension ?? '').replace(/^\./, '');
  return name && ext && !name.includes('.') ? `${name}.${ext}` : name;
}

// The waiting page's bar goes back and forth while the page is shown:
// animate(on).
function waitingBarMotion(section) {
  const window = section.ownerDocument.defaultView;
  const bar = section.querySelector('[data-control-name="progressBar"]');
  let motion = { position: 0, step: BAR_STEP };
  let timer = 0;
  return (on) => {
    if (on && !timer) {
      timer = window.setInterval(() => {
        motion = nextBarMotion(motion);
        bar.value = motion.position;
      }, BAR_PERIOD_MS);
    } else if (!on && timer) {
      window.clearInterval(timer);
      timer = 0;
    }
  };
}

// What the user does in a page, for the program, but nothing while a job runs.
function listenTo(section, page, busy, emit, onDrag) {
  // While a job runs the page takes no input at all.
  for (const type of ['click', 'keydown', 'beforeinput', 'pointerdown']) {
    section.addEventListener(
      type,
      (e) => {
        if (busy()) {
          e.preventDefault();
          e.stopPropagation();
        }
      },
      true,
    );
  }
  section.addEventListener('click', (e) => {
    const button = e.target.closest('button[data-control]');
    if (button && !button.disabled) emit(page, button, 'click');
  });
  section.addEventListener('input', (e) => {
    const el = e.target;
    if (!el.dataset.control || el.type === 'checkbox') return;
    if (el.type === 'range') return emit(page, el, 'input', Number(el.value));
    // Digits only (leading blanks allowed): anything else is refused.
    if ('digits' in el.dataset && !/^ *[0-9]*$/.test(el.value)) {
      el.value = el.dataset.last ?? '';
      return;
    }
    el.dataset.last = el.value;
    emit(page, el, 'input', el.value);
  });
  section.addEventListener('change', (e) => {
    if (e.target.type === 'checkbox' && e.target.dataset.control)
      emit(page, e.target, 'toggle', e.target.checked);
  });
  section.addEventListener('focusout', (e) => {
    const el = e.target;
    if (el.dataset.control && el.type === 'text' && !el.readOnly) emit(page, el, 'blur', el.value);
  });
  section.addEventListener('pointerdown', (e) => {
    if (e.target.type === 'range') onDrag(e.target);
  });
}

// The window's four pages: their controls, found by number, what the
// program shows in them, and what the user does in them.
function createPages(document, busy) {
  const window = document.defaultView;
  const sections = Object.fromEntries(PAGES.map((p) => [p, document.getElementById(`page-${p}`)]));
  const controls = new Map();
  let pictureFiles = {}; // picture number -> file in pictures/, from the program
  let commandHandler = null;
  let dragged = null; // the slider being dragged

  function control(page, id) {
    const key = `${page}/${id}`;
    if (!controls.has(key)) {
      const el = sections[page]?.querySelector(`[data-control="${id}"]`) ?? null;
      if (!el) return null;
      controls.set(key, el);
    }
    return controls.get(key);
  }

  const animateBar = waitingBarMotion(sections.waiting);
  animateBar(!sections.waiting.hidden); // the page the document starts on

  function emit(page, el, kind, value) {
    if (commandHandler && !busy()) commandHandler(page, Number(el.dataset.control), kind, value);
  }
  for (const page of PAGES) listenTo(sections[page], page, busy, emit, (el) => (dragged = el));
  for (const type of ['pointerup', 'pointercancel'])
    document.addEventListener(type, () => (dragged = null));

  return {
    animateBar,
    waitingShown: () => !sections.waiting.hidden,

    // The program's numbers (talmo_numbers): each control named in the
    // markup gets its number, and every picture is loaded once, so that a
    // change shows at once.
    useNumbers(numbers) {
      for (const page of PAGES)
        for (const el of sections[page].querySelectorAll('[data-control-name]')) {
          const [group, name] = el.dataset.controlName.split('.');
          const id = name ? numbers[group][name] : numbers.controls[page][group];
          if (id === undefined) throw new Error(`${page}: no control named ${el.dataset.controlName}`);
          el.dataset.control = String(id);
        }
      controls.clear();
      pictureFiles = numbers.pictures;
      for (const file of Object.values(pictureFiles)) new window.Image().src = pictureUrl(file);
    },

    showPage(page) {
      for (const p of PAGES) sections[p].hidden = p !== page;
      animateBar(page === 'waiting');
    },

    setText(page, id, text) {
      const el = control(page, id);
      if (!el) return;
      if (el.tagName === 'INPUT') {
        el.value = text;
        el.dataset.last = text;
      } else {
        el.textContent = text;
      }
    },

    setPicture(page, id, pictureId) {
      const el = control(page, id);
      const img = el?.tagName === 'IMG' ? el : el?.querySelector('img');
      if (!img || el.dataset.picture === String(pictureId)) return;
      el.dataset.picture = String(pictureId);
      const file = pictureFiles[pictureId];
      if (file) img.src = pictureUrl(file);
      else img.removeAttribute('src');
      img.hidden = !file;
      const said = el.dataset.name && [el.dataset.name, pictureStates[pictureFiles[pictureId]]].filter(Boolean).join(' : ');
      if (said && el === img) img.alt = said;
      else if (said) el.setAttribute('aria-label', said);
    },

    setPosition(page, id, position) {
      const el = control(page, id);
      if (el) el.value = String(position);
    },

    setVisible(page, id, visible) {
      const el = control(page, id);
      if (el) el.hidden = !visible;
    },

    setChecked(page, id, checked) {
      const el = control(page, id);
      if (el) el.checked = Boolean(checked);
    },

    checked(page, id) {
      return Boolean(control(page, id)?.checked);
    },

    hasFocus(page, id) {
      const el = control(page, id);
      return Boolean(el) && (document.activeElement === el || dragged === el);
    },

    onCommand(fn) {
      commandHandler = fn;
    },
  };
}

// The status bar: the connection and message fields, the job's progress.
function createStatusBar(document) {
  const byId = (id) => document.getElementById(id);
  let connection = ''; // the connection field's text, as the program gives it
  let demo = false; // the program talks to the demo's virtual TALMO
  const showConnection = () =>
    (byId('status-connection').textContent = demo && connection ? `${connection} (TALMO virtuel)` : connection);

  return {
    setStatus(field, text) {
      if (field === 0) {
        connection = text;
        showConnection();
      } else if (field === 1) {
        byId('status-message').textContent = text;
      }
    },

    // The demo's virtual TALMO: said in the connection field.
    setDemo(on) {
      demo = on;
      showConnection();
    },

    progress(phase, done, total) {
      const bar = byId('progress');
      const max = Math.max(total, 1);
      const value = Math.min(done, total);
      bar.max = max;
      bar.value = value;
      bar.title = phase ?? '';
      byId('progress-text').textContent = `${Math.round((value * 100) / max)} %`;
      bar.hidden = false;
      byId('meter').hidden = false;
    },

    progressEnd() {
      byId('progress').hidden = true;
      byId('meter').hidden = true;
    },
  };
}

// Dialogs come one at a time: a second waits for the first to close.
function dialogQueue() {
  let last = Promise.resolve();
  return (work) => {
    const result = last.then(work);
    last = result.catch(() => {});
    return result;
  };
}

// Shows a dialog; resolves with its return value ('' for Escape).
function runDialog(dialog, focus) {
  return new Promise((resolve) => {
    dialog.returnValue = '';
    dialog.addEventListener('close', () => resolve(dialog.returnValue), { once: true });
    dialog.showModal();
    focus?.focus();
  });
}

function fillTypes(select, filters) {
  const window = select.ownerDocument.defaultView;
  select.replaceChildren(...(filters ?? []).map((f, i) => new window.Option(f.label, String(i), i === 0, i === 0)));
  select.disabled = !filters?.length;
}

// The message box, as the window's: resolves with the answer's name.
function createBox(document, queued) {
  const byId = (id) => document.getElementById(id);
  const boxDialog = byId('box');
  boxDialog.addEventListener('click', (e) => {
    const button = e.target.closest('[data-answer]');
    if (button) boxDialog.close(button.dataset.answer);
  });
  return {
    box(text, caption, icon, buttons) {
      return queued(async () => {
        const shown = BOX_BUTTONS[buttons] ?? BOX_BUTTONS.ok;
        byId('box-caption').textContent = caption;
        byId('box-text').textContent = text;
        const iconEl = byId('box-icon');
        iconEl.dataset.icon = icon;
        iconEl.textContent = BOX_ICONS[icon] ?? '';
        iconEl.hidden = !BOX_ICONS[icon];
        for (const b of boxDialog.querySelectorAll('[data-answer]')) b.hidden = !shown.includes(b.dataset.answer);
        const first = boxDialog.querySelector(`[data-answer="${shown[0]}"]`);
        const answer = await runDialog(boxDialog, first);
        if (answer) return answer;
        // Escape: "Annuler", else "Non", else the one button there is.
        return ['cancel', 'no', 'ok'].find((a) => shown.includes(a));
      });
    },
  };
}

// The open dialog: resolves with the chosen File, or null.
function createOpenDialog(document, queued) {
  const byId = (id) => document.getElementById(id);
  const openDialog = byId('open-dialog');
  const openInput = byId('open-input');
  const openOk = byId('open-ok');
  const openType = byId('open-type');
  let openFilters = [];
  const setAccept = () => (openInput.accept = extensionsOf(openFilters[openType.value]).join(','));
  openType.addEventListener('change', setAccept);
  const showChosen = () => {
    byId('open-name').textContent = openInput.files[0]?.name ?? 'Aucun fichier choisi';
    openOk.disabled = !openInput.files.length;
  };
  openInput.addEventListener('change', showChosen);
  openOk.addEventListener('click', () => openDialog.close('ok'));
  byId('open-cancel').addEventListener('click', () => openDialog.close('cancel'));
  return {
    openFile(request) {
      return queued(async () => {
        byId('open-title').textContent = request.title || 'Ouvrir';
        byId('open-note').textContent = request.note ?? '';
        byId('open-note').hidden = !request.note;
        openFilters = request.filters ?? [];
        fillTypes(openType, openFilters);
        setAccept();
        openInput.value = '';
        showChosen();
        const answer = await runDialog(openDialog, openInput);
        return answer === 'ok' && openInput.files.length ? openInput.files[0] : null;
      });
    },
  };
}

// The save dialog (a name), then, once the file's contents exist, its place.
function createSaveDialogs(document, queued) {
  const window = document.defaultView;
  const byId = (id) => document.getElementById(id);
  const saveDialog = byId('save-dialog');
  const saveInput = byId('save-name');
  const saveOk = byId('save-ok');
  let saveRequest = {};
  saveInput.addEventListener('input', () => (saveOk.disabled = !saveInput.value.trim()));
  saveInput.addEventListener('keydown', (e) => {
    if (e.key === 'Enter') saveOk.click();
  });
  saveOk.addEventListener('click', () => {
    if (saveName(saveInput.value, saveRequest.defaultExtension)) saveDialog.close('ok');
  });
  byId('save-cancel').addEventListener('click', () => saveDialog.close('cancel'));

  // The save picker's handle for a finished file, or null for the downloads folder.
  const deliverDialog = byId('deliver-dialog');
  byId('deliver-download').addEventListener('click', () => deliverDialog.close('download'));
  function choosePlace(saved) {
    byId('deliver-text').textContent = `« ${saved.name} » est prêt. Où l'enregistrer ?`;
    return new Promise((resolve) => {
      const choose = byId('deliver-choose');
      const onChoose = () => {
        const types = (saved.filters ?? [])
          .map((f) => ({ description: f.label, accept: { 'application/octet-stream': extensionsOf(f) } }))
          .filter((t) => t.accept['application/octet-stream'].length);
        // Asked inside the click: the browser wants a user's gesture.
        const picked = window.showSaveFilePicker({ suggestedName: saved.name, ...(types.length ? { types } : {}) });
        deliverDialog.close('choose');
        picked.then(resolve, () => resolve(null));
      };
      choose.addEventListener('click', onChoose, { once: true });
      deliverDialog.addEventListener(
        'close',
        () => {
          choose.removeEventListener('click', onChoose);
          if (deliverDialog.returnValue !== 'choose') resolve(null);
        },
        { once: true },
      );
      deliverDialog.returnValue = '';
      deliverDialog.showModal();
      choose.focus();
    });
  }

  return {
    saveFile(request) {
      return queued(async () => {
        saveRequest = request;
        byId('save-title').textContent = request.title || 'Enregistrer sous';
        fillTypes(byId('save-type'), request.filters);
        saveInput.value = request.suggestedName ?? '';
        saveOk.disabled = !saveInput.value.trim();
        const answer = await runDialog(saveDialog, saveInput);
        return answer === 'ok'
          ? { name: saveName(saveInput.value, request.defaultExtension), filters: request.filters }
          : null;
      });
    },

    // The file's place is asked only now that its contents exist: a file
    // the browser's save picker chose is emptied at once, and a save that
    // then failed would have lost it.
    async deliver(saved, bytes) {
      if (window.showSaveFilePicker) {
        const handle = await queued(() => choosePlace(saved));
        if (handle) {
          const out = await handle.createWritable();
          await out.write(bytes);
          await out.close();
          return;
        }
      }
      const url = window.URL.createObjectURL(new window.Blob([bytes], { type: 'application/octet-stream' }));
      const link = document.createElement('a');
      link.href = url;
      link.download = saved.name;
      link.hidden = true;
      document.body.append(link);
      link.click();
      link.remove();
      window.setTimeout(() => window.URL.revokeObjectURL(url), 60000);
    },
  };
}

// What the page says around the window: the permission button, the demo's
// offer, the page that names the browsers that work (or says the program
// could not start), and a new version ready.
function createNotices(document, pages) {
  const byId = (id) => document.getElementById(id);
  let connectHandler = null;
  byId('connect').addEventListener('click', () => connectHandler?.());

  function showNoWebHid() {
    pages.animateBar(false);
    byId('window').hidden = true;
    byId('no-webhid').hidden = false;
  }

  return {
    showNoWebHid,

    showConnect(visible, explanation) {
      byId('connect').hidden = !visible;
      const note = byId('connect-note');
      note.textContent = explanation ?? '';
      note.hidden = !visible || !explanation;
    },

    showDemoOffer(visible) {
      byId('demo-try').hidden = !visible;
    },

    // The window again, in place of the page that says why it cannot work.
    showWindow() {
      byId('no-webhid').hidden = true;
      byId('window').hidden = false;
      pages.animateBar(pages.waitingShown());
    },

    // The program behind the page could not be loaded: opened from disk,
    // the served page's index.html cannot fetch it; talmo-tools.html can.
    showCannotStart(fromDisk) {
      showNoWebHid();
      const page = byId('no-webhid');
      page.querySelector('h1').textContent = 'TALMO_Tools ne peut pas démarrer';
      const says = fromDisk
        ? [
            "Ouverte depuis le disque, cette page ne peut pas charger le programme qui l'accompagne.",
            'Ouvrez plutôt le fichier talmo-tools.html, qui contient tout le programme, ' +
              'dans Chrome ou Edge, ou cette page sur le serveur https qui la publie.',
          ]
        : [
            "Le programme de la page n'a pas pu être chargé.",
            "Vérifiez la connexion au serveur qui publie la page, puis rechargez-la.",
          ];
      page.querySelectorAll('p').forEach((p) => p.remove());
      for (const text of says) {
        const p = document.createElement('p');
        p.textContent = text;
        page.append(p);
      }
    },

    // A new version of the page is kept, for the next start.
    showUpdateReady() {
      const note = byId('update-ready');
      note.textContent =
        'Une nouvelle version de TALMO_Tools est prête : elle sera utilisée au prochain démarrage de la page.';
      note.hidden = false;
    },

    onConnect(fn) {
      connectHandler = fn;
    },
  };
}

// The whole view, as app.js and the program use it.
function createView(document) {
  const busy = () => 'busy' in document.body.dataset;
  const pages = createPages(document, busy);
  const queued = dialogQueue();
  const { animateBar, waitingShown, ...pageCalls } = pages;
  return {
    ...pageCalls,
    ...createStatusBar(document),
    ...createBox(document, queued),
    ...createOpenDialog(document, queued),
    ...createSaveDialogs(document, queued),
    ...createNotices(document, pages),
    setBusy(on) {
      if (on) document.body.dataset.busy = '1';
      else delete document.body.dataset.busy;
    },
  };
}
