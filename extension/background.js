// Tessera's background: takes each page's requests, asks the user whether
// the page's site may use the certificates, and relays the requests of
// allowed sites to the tab's own tessera-host.
import { Consent } from './consent.js';
import { NativeSession } from './native-session.js';
import { requestProblem } from './request-check.js';

const HOST_NAME = 'org.tessera.host';
const consent = new Consent();
const sessions = new Map(); // tab id -> NativeSession

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

function endSession(tabId, reason) {
  const session = sessions.get(tabId);
  if (session !== undefined) {
    sessions.delete(tabId);
    session.close(reason);
  }
}

// A tab's session belongs to one site: another site in the same tab gets a
// host of its own, never the certificate the first one selected.
function sessionFor(tabId, origin) {
  let session = sessions.get(tabId);
  if (session !== undefined && session.origin !== origin) {
    endSession(tabId, 'Tessera: the tab moved to another site.');
    session = undefined;
  }
  if (session === undefined) {
    session = new NativeSession(HOST_NAME, origin);
    sessions.set(tabId, session);
  }
  return session;
}

async function handle(page, message) {
  const { id, request, oneShot } = message;
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
  const problem = requestProblem(request);
  if (problem !== null) {
    reply({ error: problem });
    return;
  }
  if (!/^https?:\/\/./.test(page.origin)) {
    reply({ error: 'Tessera: only http and https pages with an origin of their own may use certificates.' });
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
  // Queue now, in arrival order; the answer comes whenever the host gives it.
  const answer = oneShot
    ? chrome.runtime.sendNativeMessage(HOST_NAME, request)
    : sessionFor(page.tabId, page.origin).send(request, () => page.connected);
  answer.then((response) => reply({ response }), (error) => reply({ error: String(error?.message ?? error) }));
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
  });
});

chrome.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (message?.type === 'consent-answer') {
    consent.answer(message, sender).then(sendResponse);
    return true;
  }
  return false;
});

consent.onRevoked((origin) => {
  for (const [tabId, session] of sessions) {
    if (session.origin === origin) {
      endSession(tabId, `Tessera: ${origin} is no longer allowed to use your certificates.`);
    }
  }
});

chrome.tabs.onRemoved.addListener((tabId) => endSession(tabId, 'Tessera: the tab was closed.'));
