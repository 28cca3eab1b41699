// The question asked before a site's first request reaches the host. The
// answer goes to the background, which remembers it and closes this window.
const query = new URLSearchParams(window.location.search);
const origin = query.get('origin') ?? '';
const nonce = query.get('nonce') ?? '';
document.getElementById('origin').textContent = origin;

// Any site can make this window appear, without a click of the user's, so a
// page could time a click of its own ("press here twice, quickly") to land
// on Allow as the window opens. Allow therefore waits until the window has
// been visible and focused for a moment, and waits again whenever it loses
// focus or is hidden. Don't allow needs no such care.
const ALLOW_DELAY_MS = 1000;
const allow = document.getElementById('allow');
const deny = document.getElementById('deny');
let answered = false;
let timer = null;

function attentive() {
  return document.visibilityState === 'visible' && document.hasFocus();
}

function holdAllow() {
  clearTimeout(timer);
  timer = null;
  allow.disabled = true;
}

function armAllow() {
  if (answered || !allow.disabled || timer !== null || !attentive()) {
    return;
  }
  timer = setTimeout(() => {
    timer = null;
    if (!answered && attentive()) {
      allow.disabled = false;
    }
  }, ALLOW_DELAY_MS);
}

window.addEventListener('blur', holdAllow);
window.addEventListener('focus', armAllow);
document.addEventListener('visibilitychange', () => {
  if (document.visibilityState === 'visible') {
    armAllow();
  } else {
    holdAllow();
  }
});
armAllow();

async function answer(allowed) {
  answered = true;
  holdAllow();
  deny.disabled = true;
  const accepted = await chrome.runtime.sendMessage({ type: 'consent-answer', origin, nonce, allowed });
  if (!accepted) {
    document.querySelector('.state').textContent = 'This question has expired. Ask again from the page.';
    return;
  }
  window.close();
}

// The background may stop when idle, and the question with it; a message
// now and then keeps it running while the user reads.
setInterval(() => chrome.runtime.sendMessage({ type: 'consent-waiting' }).catch(() => {}), 20000);

allow.addEventListener('click', () => answer(true));
deny.addEventListener('click', () => answer(false));
