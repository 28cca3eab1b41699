// The question asked before a site's first request reaches the host. The
// answer goes to the background, which remembers it and closes this window.
const query = new URLSearchParams(window.location.search);
const origin = query.get('origin') ?? '';
const nonce = query.get('nonce') ?? '';

// The question in the browser's own language: Chinese, or else English.
const TEXTS = {
  en: {
    document: 'Tessera: allow this site?',
    title: 'Allow this site to use your certificates?',
    asks: 'asks to use Tessera.',
    scope: 'If you allow it, this site can choose one of your certificates and sign text with it. ' +
      'Certificates whose key is kept in software (your certificate database, or a Firefox profile) ' +
      'then sign with no further question. A smart card or token still asks for its PIN.',
    revoke: 'Tessera remembers your answer. To take it back, click the Tessera button in the toolbar ' +
      'and choose Revoke.',
    deny: "Don't allow",
    allow: 'Allow (Alt+A)',
    expired: 'This question has expired. Ask again from the page.',
  },
  zh: {
    document: 'Tessera：允许此网站吗？',
    title: '允许此网站使用您的证书吗？',
    asks: '请求使用 Tessera。',
    scope: '如果允许，此网站可以选择您的一个证书并用它对文本签名。' +
      '密钥保存在软件中的证书（您的证书数据库或 Firefox 配置文件）此后签名时不会再询问您。' +
      '智能卡或 USB 令牌仍会要求输入 PIN。',
    revoke: 'Tessera 会记住您的回答。如需撤销，请点击工具栏中的 Tessera 按钮，然后选择“Revoke”。',
    deny: '不允许',
    allow: '允许 (Alt+A)',
    expired: '此问题已过期。请从网页重新发起请求。',
  },
};
const language = (navigator.language ?? '').toLowerCase().startsWith('zh') ? 'zh' : 'en';
const texts = TEXTS[language];
document.documentElement.lang = language === 'zh' ? 'zh-CN' : 'en';
document.title = texts.document;
for (const id of ['title', 'asks', 'scope', 'revoke', 'deny', 'allow']) {
  document.getElementById(id).textContent = texts[id];
}
document.getElementById('origin').textContent = origin;

// Any site can make this window appear, without a click of the user's, and
// the user may be typing or clicking in the page as it does. Allow therefore
// answers only a deliberate act made once the window has been visible,
// focused and left alone for a moment:
// - any key or pointer press in the window starts that moment again, so
//   neither typing nor steady clicking ever finds Allow armed;
// - Allow cannot be reached by Tab, and takes no keyboard activation and no
//   click made by a script: only a pointer press that starts on it while it
//   is armed, and ends on it;
// - the keyboard's way is Alt+A, armed by the same moment, which ordinary
//   typing does not produce.
// Don't allow, and closing the window, answer at once by any means.
const ALLOW_DELAY_MS = 1000;
const MODIFIER_KEYS = new Set(['Alt', 'AltGraph', 'Control', 'Meta', 'Shift', 'OS']);
const allow = document.getElementById('allow');
const deny = document.getElementById('deny');
let answered = false;
let armed = false;
let timer = null;
let pressOnAllow = false;

function attentive() {
  return document.visibilityState === 'visible' && document.hasFocus();
}

function holdAllow() {
  clearTimeout(timer);
  timer = null;
  armed = false;
  pressOnAllow = false;
  allow.setAttribute('aria-disabled', 'true');
}

// Starts the moment Allow waits for, from now.
function rearmAllow() {
  holdAllow();
  if (answered || !attentive()) {
    return;
  }
  timer = setTimeout(() => {
    timer = null;
    if (!answered && attentive()) {
      armed = true;
      allow.setAttribute('aria-disabled', 'false');
    }
  }, ALLOW_DELAY_MS);
}

window.addEventListener('blur', holdAllow);
window.addEventListener('focus', rearmAllow);
document.addEventListener('visibilitychange', () => {
  if (document.visibilityState === 'visible') {
    rearmAllow();
  } else {
    holdAllow();
  }
});

window.addEventListener('keydown', (event) => {
  if (answered) {
    return;
  }
  if (event.isTrusted && armed && event.altKey && !event.ctrlKey && !event.metaKey && !event.repeat &&
      (event.code === 'KeyA' || event.key.toLowerCase() === 'a')) {
    event.preventDefault();
    answer(true);
    return;
  }
  // A modifier on its own types nothing, and Alt starts the accelerator.
  if (!MODIFIER_KEYS.has(event.key)) {
    rearmAllow();
  }
}, true);

window.addEventListener('pointerdown', (event) => {
  if (event.isTrusted && armed && event.button === 0 && allow.contains(event.target)) {
    pressOnAllow = true;
    return;
  }
  rearmAllow();
}, true);

window.addEventListener('pointerup', (event) => {
  const granted = pressOnAllow && event.isTrusted && armed && allow.contains(event.target);
  pressOnAllow = false;
  if (granted && !answered) {
    answer(true);
  } else if (!answered) {
    rearmAllow();
  }
}, true);

for (const type of ['pointercancel', 'wheel']) {
  window.addEventListener(type, () => {
    if (!answered) {
      rearmAllow();
    }
  }, true);
}

rearmAllow();

async function answer(allowed) {
  answered = true;
  holdAllow();
  deny.disabled = true;
  const accepted = await chrome.runtime.sendMessage({ type: 'consent-answer', origin, nonce, allowed });
  if (!accepted) {
    document.getElementById('revoke').textContent = texts.expired;
    return;
  }
  window.close();
}

// The background may stop when idle, and the question with it; a message
// now and then keeps it running while the user reads.
setInterval(() => chrome.runtime.sendMessage({ type: 'consent-waiting' }).catch(() => {}), 20000);

deny.addEventListener('click', () => {
  if (!answered) {
    answer(false);
  }
});
