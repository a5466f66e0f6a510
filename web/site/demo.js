// The demo's panel: the virtual TALMO inside the page, played as the window
// "TALMO virtuel" of talmo-tools-demo does. Every action is a line of text
// for the program ("unplug", "key 64 1", "pic PIC16F877A 0", ...), handed to
// `act`, which passes it on whether or not a job runs; the program answers
// with the device's state (state()). A classic script.

// What the panel says of each armed fault.
const DEMO_FAULTS = {
  'no-answer': 'Une réponse perdue',
  silent: 'Le TALMO ne répond plus',
  'wrong-echo': 'Un écho faux',
  unplug: 'Arrachage armé',
  'refuse-firmware': 'Écriture du bloc 0x1300 refusée',
};

function createDemoPanel(document, act, { onPace, onLog }) {
  const byId = (id) => document.getElementById(id);
  const panel = byId('demo-panel');
  let plugged = true;
  let last = null; // the state last shown: a control is set again only when the device changed

  panel.addEventListener('click', (e) => {
    const button = e.target.closest('button');
    if (!button || 'key' in button.dataset) return;
    if (button.id === 'demo-plug') act(plugged ? 'unplug' : 'plug');
    else if (button.id === 'demo-pic') act(`pic ${byId('demo-chip').value} ${byId('demo-protection').value}`);
    else if (button.id === 'demo-log') onLog();
    else if (button.dataset.fault) act(`fault ${button.dataset.fault}`);
    else if (button.dataset.act) act(button.dataset.act);
  });
  panel.addEventListener('change', (e) => {
    const el = e.target;
    if (el.dataset.machine) act(`machine ${el.dataset.machine} ${el.checked ? 1 : 0}`);
    else if (el.id === 'demo-fast') onPace(el.checked);
  });
  const pwm = byId('demo-pwm');
  pwm.addEventListener('input', () => {
    byId('demo-pwm-value').textContent = pwm.value;
    act(`pwm-input ${pwm.value}`);
  });

  // A key is held while the button is: pointer or keyboard (Space, Enter).
  for (const key of panel.querySelectorAll('[data-key]')) {
    const press = (down) => {
      if ((key.dataset.down === '1') === down) return;
      key.dataset.down = down ? '1' : '0';
      key.setAttribute('aria-pressed', String(down));
      act(`key ${key.dataset.key} ${down ? 1 : 0}`);
    };
    key.addEventListener('pointerdown', () => press(true));
    for (const type of ['pointerup', 'pointerleave', 'pointercancel', 'blur']) key.addEventListener(type, () => press(false));
    key.addEventListener('keydown', (e) => {
      if (e.key === ' ' || e.key === 'Enter') {
        e.preventDefault();
        press(true);
      }
    });
    key.addEventListener('keyup', (e) => {
      if (e.key === ' ' || e.key === 'Enter') press(false);
    });
  }

  return {
    show(on) {
      panel.hidden = !on;
      byId('demo-banner').hidden = !on;
      if (on) document.body.dataset.demo = '1';
      else delete document.body.dataset.demo;
    },

    // The device as the program sees it. A control the user is setting is
    // left alone unless the device itself changed it.
    state(s) {
      plugged = s.plugged;
      const changed = (read) => !last || read(last) !== read(s);
      const mode = s.mode === 'bootloader' ? 'boot loader (0x00A9)' : 'mode normal (0x00AA)';
      byId('demo-usb').textContent = s.plugged ? `Branché, ${mode} — ${s.path}` : 'Débranché';
      byId('demo-plug').textContent = s.plugged ? 'Débrancher' : 'Brancher';
      const chip = byId('demo-chip');
      if (chip.options.length === 1)
        for (const name of s.chips) chip.add(new document.defaultView.Option(name, name));
      if (changed((x) => x.pic)) chip.value = s.pic;
      for (const box of panel.querySelectorAll('[data-machine]'))
        if (changed((x) => x.machine[box.dataset.machine])) box.checked = Boolean(s.machine[box.dataset.machine]);
      if (changed((x) => x.pwmInput)) {
        pwm.value = String(s.pwmInput);
        byId('demo-pwm-value').textContent = String(s.pwmInput);
      }
      byId('demo-faults').textContent = s.faults.length ? s.faults.map((f) => DEMO_FAULTS[f] ?? f).join(', ') : 'Aucune panne';
      last = s;
    },
  };
}
