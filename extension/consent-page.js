// The question asked before a site's first request reaches the host. The
// answer goes to the background, which remembers it and closes this window.
const query = new URLSearchParams(window.location.search);
const origin = query.get('origin') ?? '';
const nonce = query.get('nonce') ?? '';
document.getElementById('origin').textContent = origin;

async function answer(allowed) {
  for (const button of document.querySelectorAll('button')) {
    button.disabled = true;
  }
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

document.getElementById('allow').addEventListener('click', () => answer(true));
document.getElementById('deny').addEventListener('click', () => answer(false));
