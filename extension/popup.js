// The toolbar popup: the current site's answer, with buttons to change it,
// and every remembered answer with a button to forget it. Forgetting or
// refusing a site ends its running sessions; it is asked again next time.
const PREFIX = 'site:';

function describe(allowed) {
  return allowed ? 'may use your certificates' : 'may not use your certificates';
}

async function render() {
  const items = await chrome.storage.local.get(null);
  const sites = Object.entries(items)
    .filter(([key, value]) => key.startsWith(PREFIX) && value !== null && typeof value === 'object')
    .map(([key, value]) => ({ origin: key.slice(PREFIX.length), allowed: value.allowed === true }))
    .sort((a, b) => a.origin.localeCompare(b.origin));

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
    forget.addEventListener('click', async () => {
      await chrome.storage.local.remove(PREFIX + site.origin);
      render();
    });
    item.append(name, state, forget);
    list.append(item);
  }
  document.getElementById('no-sites').hidden = sites.length > 0;

  const [tab] = await chrome.tabs.query({ active: true, currentWindow: true });
  let origin = null;
  try {
    const url = new URL(tab?.url ?? '');
    if (url.protocol === 'http:' || url.protocol === 'https:') {
      origin = url.origin;
    }
  } catch {
    origin = null;
  }
  const current = document.getElementById('current');
  current.hidden = origin === null;
  if (origin !== null) {
    const known = sites.find((site) => site.origin === origin);
    document.getElementById('current-origin').textContent = origin;
    document.getElementById('current-state').textContent =
      known === undefined ? 'has not asked yet' : describe(known.allowed);
    const set = (allowed) => async () => {
      await chrome.storage.local.set({ [PREFIX + origin]: { allowed, decided: Date.now() } });
      render();
    };
    document.getElementById('current-allow').onclick = set(true);
    document.getElementById('current-deny').onclick = set(false);
  }
}

render();
