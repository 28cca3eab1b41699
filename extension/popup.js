// The toolbar popup: the current site's answer, with buttons to change it,
// and every remembered answer with a button to forget it. The answers belong
// to the background, which alone may change them: every change here is a
// message to it, and the list is drawn again once it has been made (and the
// site's running hosts ended, when it lost its grant).
import { originProblem } from './origins.js';

async function ask(message) {
  const answer = await chrome.runtime.sendMessage(message);
  if (answer?.error !== undefined) {
    throw new Error(answer.error);
  }
  return answer;
}

function describe(allowed) {
  return allowed ? 'may use your certificates' : 'may not use your certificates';
}

// Runs a change, then draws the popup again; a failure is shown, not lost.
function change(message) {
  return async () => {
    try {
      await ask(message);
    } catch (error) {
      document.getElementById('problem').textContent = error.message;
    }
    await render();
  };
}

async function currentOrigin() {
  const [tab] = await chrome.tabs.query({ active: true, currentWindow: true });
  try {
    const url = new URL(tab?.url ?? '');
    return url.protocol === 'http:' || url.protocol === 'https:' ? url.origin : null;
  } catch {
    return null;
  }
}

async function render() {
  const { sites } = await ask({ type: 'sites-list' });
  const list = document.getElementById('sites');
  list.replaceChildren();
  for (const site of sites) {
    const item = document.createElement('li');
    const name = document.createElement('span');
    name.className = 'origin';
    name.textContent = site.origin;
    const state = document.createElement('span');
    state.className = 'state';
    state.textContent = site.allowed ? 'allowed' : 'not allowed';
    const forget = document.createElement('button');
    forget.textContent = site.allowed ? 'Revoke' : 'Forget';
    forget.title = 'Forget this answer: the site will be asked about again';
    forget.addEventListener('click', change({ type: 'site-forget', origin: site.origin }));
    item.append(name, state, forget);
    list.append(item);
  }
  document.getElementById('no-sites').hidden = sites.length > 0;

  const origin = await currentOrigin();
  const current = document.getElementById('current');
  current.hidden = origin === null;
  if (origin !== null) {
    const known = sites.find((site) => site.origin === origin);
    const problem = originProblem(origin);
    document.getElementById('current-origin').textContent = origin;
    document.getElementById('current-state').textContent =
      problem !== null ? 'is not a secure site: Tessera serves only https sites, and http on this computer'
        : known === undefined ? 'has not asked yet' : describe(known.allowed);
    document.getElementById('current-buttons').hidden = problem !== null;
    document.getElementById('current-allow').onclick = change({ type: 'site-set', origin, allowed: true });
    document.getElementById('current-deny').onclick = change({ type: 'site-set', origin, allowed: false });
  }
}

render().catch((error) => {
  document.getElementById('problem').textContent = error.message;
});
