// window.tessera: the page's promise-based API. Runs in the page's own world
// and talks to Tessera's content script (bridge.js) with window messages.
// Each call resolves with the host's response exactly as the host sent it,
// {function, errorcode, result}, or rejects with an Error when the request
// could not reach the host or the host went away before answering.
(() => {
  'use strict';
  if (window.tessera !== undefined) {
    return;
  }
  // The document's own origin: under a CSP sandbox it is opaque ("null")
  // while location.origin still names the site, and a message aimed at the
  // site would never arrive. A page posts to itself, so "*" is safe there.
  const target = self.origin === 'null' ? '*' : self.origin;
  const pending = new Map();
  let nextId = 1;

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || data === null || typeof data !== 'object' ||
        data.channel !== 'tessera-response') {
      return;
    }
    const call = pending.get(data.id);
    if (call === undefined) {
      return;
    }
    pending.delete(data.id);
    if (typeof data.error === 'string') {
      call.reject(new Error(data.error));
    } else {
      call.resolve(data.response);
    }
  });

  // Sends any request object to the host. With {oneShot: true} the request
  // goes to a host started for it alone, which keeps no selection.
  function request(message, options = {}) {
    return new Promise((resolve, reject) => {
      const id = `tessera-${nextId++}`;
      pending.set(id, { resolve, reject });
      try {
        window.postMessage({ channel: 'tessera-request', id, request: message,
                             oneShot: options.oneShot === true }, target);
      } catch (error) {
        // A value that cannot be copied (a function, a DOM node) or nested
        // too deeply to copy.
        pending.delete(id);
        reject(new Error(`Tessera: the request cannot be sent (${error?.message ?? error}).`));
      }
    });
  }

  const call = (name, ...params) =>
    request({ function: name, params: params.map((param) => ({ param })) });

  const api = Object.freeze({
    selectSignCertificate: (subjectFilter = '', issuerFilter = '') =>
      call('SelectSignCertificate', subjectFilter, issuerFilter),
    signMessage: (text, hashAlgorithm) => call('SignMessage', text, hashAlgorithm),
    signMessageDetached: (text, hashAlgorithm) => call('SignMessageDetached', text, hashAlgorithm),
    signMessagePKCS1: (text, hashAlgorithm) => call('SignMessagePKCS1', text, hashAlgorithm),
    getLastErrorDesc: () => call('GetLastErrorDesc'),
    request,
  });
  Object.defineProperty(window, 'tessera', { value: api, enumerable: true });
  window.dispatchEvent(new Event('tessera-ready'));
})();
