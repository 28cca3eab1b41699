// Tessera's background: takes each page's requests, asks the user whether
// the page's site may use the certificates, and relays the requests of
// allowed sites to the tab's own tessera-host.
import { Consent } from './consent.js';
import { NativeSession } from './native-session.js';
import { originProblem } from './origins.js';
import { checkRequest } from './request-check.js';

const HOST_NAME = 'org.tessera.host';
// One-shot hosts one tab may have running at once. Every request that reaches
// a host is answered, but should one ever hang, a page could otherwise pile
// up a process per request until the browser closes.
const MAX_ONE_SHOT = 4;

// After a PIN prompt is cancelled, the tab's next request that may ask for
// a PIN or show the dialog is refused at once, with the same code, unless it
// comes with the user's own input: a page must not answer a user's Cancel
// with prompt after prompt. The host's spelling of each function, by its
// name in lower case.
const PIN_CANCELLED = -2146434962; // 0x8010006E
const ASKING = new Map([
  ['selectsigncertificate', 'SelectSignCertificate'],
  ['signmessage', 'SignMessage'],
  ['signmessagedetached', 'SignMessageDetached'],
  ['signmessagepkcs1', 'SignMessagePKCS1'],
]);
const pinCancelled = new Set(); // tab ids

const consent = new Consent();
const sessions = new Map();   // tab id -> NativeSession
const oneShots = new Map();   // tab id -> Set of NativeSession, one per one-shot request
const committed = new Map();  // tab id -> origin of its top-level document, as last committed

// The page's origin as the browser reports it. A page without one of its
// own (sandboxed: "null") is refused, never credited with its URL's origin.
function senderOrigin(sender) {
  if (typeof sender.origin === 'string') {
    return sender.origin;
  }
  try {
    return new URL(sender.url).origin;
  } catch {
    return 'null';
  }
}

function urlOrigin(url) {
  try {
    return new URL(url).origin;
  } catch {
    return 'null';
  }
}

// Whether a message comes from the extension page at this path.
function fromExtensionPage(sender, path) {
  if (sender.id !== chrome.runtime.id || typeof sender.url !== 'string') {
    return false;
  }
  try {
    const url = new URL(sender.url);
    return url.origin + url.pathname === chrome.runtime.getURL(path);
  } catch {
    return false;
  }
}

// Ends those of a tab's hosts, persistent and one-shot, whose site the test
// accepts.
function endSessions(tabId, reason, ends = () => true) {
  const session = sessions.get(tabId);
  if (session !== undefined && ends(session.origin)) {
    sessions.delete(tabId);
    session.close(reason);
  }
  for (const once of oneShots.get(tabId) ?? []) {
    if (ends(once.origin)) {
      once.close(reason);
    }
  }
}

// A tab's session belongs to one site: another site in the same tab gets a
// host of its own, never the certificate the first one selected.
function sessionFor(tabId, origin) {
  let session = sessions.get(tabId);
  if (session !== undefined && session.origin !== origin) {
    endSessions(tabId, 'Tessera: the tab moved to another site.', (other) => other !== origin);
    session = undefined;
  }
  if (session === undefined) {
    session = new NativeSession(HOST_NAME, origin);
    sessions.set(tabId, session);
  }
  return session;
}

// A request for a host started for it alone, ended once it has answered.
function sendOneShot(page, request, gate, seen) {
  let running = oneShots.get(page.tabId);
  if (running === undefined) {
    running = new Set();
    oneShots.set(page.tabId, running);
  }
  if (running.size >= MAX_ONE_SHOT) {
    return Promise.reject(new Error(
      `Tessera: this tab already has ${MAX_ONE_SHOT} one-shot requests waiting for their hosts; ` +
      'send more once they are answered.'));
  }
  const once = new NativeSession(HOST_NAME, page.origin);
  running.add(once);
  return once.send(request, () => page.connected, gate, seen).finally(() => {
    once.close('Tessera: the one-shot request is over.');
    running.delete(once);
    if (running.size === 0 && oneShots.get(page.tabId) === running) {
      oneShots.delete(page.tabId);
    }
  });
}

async function handle(page, message) {
  const { id } = message;
  // The page may have gone meanwhile; its answer goes nowhere then.
  const reply = (answer) => {
    if (page.connected) {
      try {
        page.port.postMessage({ id, ...answer });
      } catch {
        page.connected = false;
      }
    }
  };
  try {
    const problem = originProblem(page.origin);
    if (problem !== null) {
      reply({ error: problem });
      return;
    }
    const checked = checkRequest(message.request);
    if (checked.problem !== undefined) {
      reply({ error: checked.problem });
      return;
    }
    const verdict = await consent.authorize(page.origin);
    if (verdict !== 'granted') {
      reply({ error: consent.refusal(page.origin, verdict) });
      return;
    }
    if (!page.connected) {
      return;
    }
    // Checked when the request's turn comes: requests queued behind a
    // prompt the user cancels are refused too.
    const asking = ASKING.get(checked.name);
    const gate = () => {
      if (asking === undefined || !pinCancelled.has(page.tabId)) {
        return undefined;
      }
      if (message.activated === true) {
        pinCancelled.delete(page.tabId);
        return undefined;
      }
      return { function: asking, errorcode: PIN_CANCELLED, result: false };
    };
    const seen = (response) => {
      if (asking !== undefined && response?.errorcode === PIN_CANCELLED) {
        pinCancelled.add(page.tabId);
      }
    };
    // Queue now, in arrival order; the answer comes whenever the host gives it.
    const answer = message.oneShot === true
      ? sendOneShot(page, checked.request, gate, seen)
      : sessionFor(page.tabId, page.origin).send(checked.request, () => page.connected, gate, seen);
    answer.then((response) => reply({ response }), (error) => reply({ error: String(error?.message ?? error) }));
  } catch (error) {
    reply({ error: `Tessera: the request failed (${error?.message ?? error}).` });
  }
}

chrome.runtime.onConnect.addListener((port) => {
  const sender = port.sender;
  if (port.name !== 'tessera-page' || sender?.tab?.id === undefined || sender.frameId !== 0) {
    port.disconnect();
    return;
  }
  const page = { port, tabId: sender.tab.id, origin: senderOrigin(sender), connected: true };
  // One request at a time through consent, so that requests reach the host
  // in the order the page made them.
  let chain = Promise.resolve();
  port.onMessage.addListener((message) => {
    chain = chain.then(() => handle(page, message ?? {})).catch(() => {});
  });
  port.onDisconnect.addListener(() => {
    page.connected = false;
    // The page went with a navigation to another site. Its last request may
    // have started a host after the navigation's commit ended the others.
    const current = committed.get(page.tabId);
    if (current !== undefined && current !== page.origin) {
      endSessions(page.tabId, 'Tessera: the tab moved to another site.', (origin) => origin === page.origin);
    }
  });
});

// The toolbar popup's questions and changes. Only the popup may make them:
// content scripts can message the background too, and must not be able to
// allow their own site.
async function popupRequest(message) {
  switch (message.type) {
    case 'sites-list':
      return { sites: await consent.list() };
    case 'site-set': {
      const problem = originProblem(String(message.origin));
      if (problem !== null) {
        return { error: problem };
      }
      await consent.decide(message.origin, message.allowed === true);
      return { ok: true };
    }
    case 'site-forget':
      await consent.forget(String(message.origin));
      return { ok: true };
    default:
      return { error: 'Tessera: unknown request.' };
  }
}

chrome.runtime.onMessage.addListener((message, sender, sendResponse) => {
  const type = message?.type;
  if (type === 'consent-answer') {
    if (!fromExtensionPage(sender, 'consent.html')) {
      return false;
    }
    consent.answer(message, sender).then(sendResponse, () => sendResponse(false));
    return true;
  }
  if (type === 'sites-list' || type === 'site-set' || type === 'site-forget') {
    if (!fromExtensionPage(sender, 'popup.html')) {
      return false;
    }
    popupRequest(message).then(sendResponse, (error) => sendResponse({ error: `Tessera: ${error?.message ?? error}` }));
    return true;
  }
  // Anything else, such as the consent page's "still waiting", only wakes the background.
  return false;
});

consent.onRevoked((origin) => {
  const reason = `Tessera: ${origin} is no longer allowed to use your certificates.`;
  for (const tabId of new Set([...sessions.keys(), ...oneShots.keys()])) {
    endSessions(tabId, reason, (other) => other === origin);
  }
});

// A tab whose top-level document is now another site's ends the hosts of the
// site it left: back on the first site, nothing is selected.
chrome.webNavigation.onCommitted.addListener((details) => {
  if (details.frameId !== 0) {
    return;
  }
  const origin = urlOrigin(details.url);
  committed.set(details.tabId, origin);
  endSessions(details.tabId, 'Tessera: the tab moved to another site.', (other) => other !== origin);
});

function tabGone(tabId) {
  committed.delete(tabId);
  pinCancelled.delete(tabId);
  endSessions(tabId, 'Tessera: the tab was closed.');
}

chrome.tabs.onRemoved.addListener((tabId) => tabGone(tabId));
chrome.tabs.onReplaced.addListener((addedTabId, removedTabId) => tabGone(removedTabId));
