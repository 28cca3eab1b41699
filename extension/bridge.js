// Tessera's content script: carries the page's requests (from page-api.js,
// as window messages) to the extension's background over one runtime port,
// and the answers back. The background decides what reaches the host.
(() => {
  'use strict';
  // The document's own origin, "null" for a sandboxed page (see page-api.js).
  const target = self.origin === 'null' ? '*' : self.origin;
  const outstanding = new Set();
  let port = null;

  function deliver(message) {
    window.postMessage({ channel: 'tessera-response', ...message }, target);
  }

  function connect() {
    const current = chrome.runtime.connect({ name: 'tessera-page' });
    current.onMessage.addListener((message) => {
      outstanding.delete(message.id);
      deliver(message);
    });
    // The background stopped, or the extension was reloaded or removed:
    // whatever was still waiting gets an answer now, not never.
    current.onDisconnect.addListener(() => {
      if (port === current) {
        port = null;
      }
      for (const id of outstanding) {
        deliver({ id, error: 'Tessera: the extension stopped before the request was answered.' });
      }
      outstanding.clear();
    });
    port = current;
  }

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || data === null || typeof data !== 'object' ||
        data.channel !== 'tessera-request' || typeof data.id !== 'string') {
      return;
    }
    // The background refuses whatever is not plain JSON data; refused here
    // already, the page hears why rather than the browser's "could not
    // serialize" (a BigInt, a cycle).
    try {
      JSON.stringify(data.request);
    } catch (error) {
      deliver({ id: data.id, error: `Tessera: the request cannot be sent as JSON (${error?.message ?? error}).` });
      return;
    }
    try {
      if (port === null) {
        connect();
      }
    } catch (error) {
      deliver({ id: data.id, error: `Tessera: the extension is not available (${error.message}).` });
      return;
    }
    try {
      // Whether the page acts on the user's input now (a click, a key):
      // after a cancelled PIN prompt, only such a request may ask again.
      const activated = navigator.userActivation?.isActive === true;
      port.postMessage({ id: data.id, request: data.request, oneShot: data.oneShot === true, activated });
      outstanding.add(data.id);
    } catch (error) {
      // Too large a message, or a port closed under us: the next request
      // starts on a new one.
      port = null;
      deliver({ id: data.id, error: `Tessera: the request could not be sent (${error.message}).` });
    }
  });
})();
