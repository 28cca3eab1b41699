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
  const target = window.location.origin === 'null' ? '*' : window.location.origin;
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
        pending.delete(id);
        reject(error);
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
