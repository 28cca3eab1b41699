// Tessera's content script: carries the page's requests (from page-api.js,
// as window messages) to the extension's background over one runtime port,
// and the answers back. The background decides what reaches the host.
(() => {
  'use strict';
  const target = window.location.origin === 'null' ? '*' : window.location.origin;
  const outstanding = new Set();
  let port = null;

  function deliver(message) {
    window.postMessage({ channel: 'tessera-response', ...message }, target);
  }

  function connect() {
    port = chrome.runtime.connect({ name: 'tessera-page' });
    port.onMessage.addListener((message) => {
      outstanding.delete(message.id);
      deliver(message);
    });
    // The background stopped, or the extension was reloaded or removed:
    // whatever was still waiting gets an answer now, not never.
    port.onDisconnect.addListener(() => {
      port = null;
      for (const id of outstanding) {
        deliver({ id, error: 'Tessera stopped before the request was answered.' });
      }
      outstanding.clear();
    });
  }

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || data === null || typeof data !== 'object' ||
        data.channel !== 'tessera-request' || typeof data.id !== 'string') {
      return;
    }
    try {
      if (port === null) {
        connect();
      }
      port.postMessage({ id: data.id, request: data.request, oneShot: data.oneShot === true });
      outstanding.add(data.id);
    } catch (error) {
      port = null;
      deliver({ id: data.id, error: `Tessera is not available: ${error.message}` });
    }
  });
})();
