// Where the user's answers are kept: an IndexedDB database in the extension's
// own origin, which only the extension's own pages and background can open
// (content scripts see the web page's databases, never this one). The
// background is its only writer; the toolbar popup asks the background.
//
// Version 0.1.0 kept the answers in chrome.storage.local, which content
// scripts can write too, so none of those can be told from a forgery. At
// start they are moved out: a refusal is kept (a forged one can only refuse),
// an "allowed" is dropped and its site is asked again.

import { originProblem } from './origins.js';

const DATABASE = 'tessera-consent';
const SITES = 'sites';
const LEGACY_PREFIX = 'site:';

function settled(request) {
  return new Promise((resolve, reject) => {
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

function finished(transaction) {
  return new Promise((resolve, reject) => {
    transaction.oncomplete = () => resolve();
    transaction.onerror = () => reject(transaction.error);
    transaction.onabort = () => reject(transaction.error ?? new Error('the transaction was aborted'));
  });
}

export class ConsentStore {
  constructor() {
    this.database = null;
  }

  async open() {
    const request = indexedDB.open(DATABASE, 1);
    request.onupgradeneeded = () => {
      request.result.createObjectStore(SITES, { keyPath: 'origin' });
    };
    this.database = await settled(request);
  }

  // Every answer: [{origin, allowed, decided}].
  async all() {
    const transaction = this.database.transaction(SITES, 'readonly');
    return settled(transaction.objectStore(SITES).getAll());
  }

  async put(origin, allowed) {
    const transaction = this.database.transaction(SITES, 'readwrite');
    transaction.objectStore(SITES).put({ origin, allowed, decided: Date.now() });
    await finished(transaction);
  }

  async remove(origin) {
    const transaction = this.database.transaction(SITES, 'readwrite');
    transaction.objectStore(SITES).delete(origin);
    await finished(transaction);
  }

  // Moves the answers of version 0.1.0 out of chrome.storage.local: keeps
  // the refusals of sites not answered here since, drops everything else.
  async migrateLegacy(known) {
    const items = await chrome.storage.local.get(null);
    const keys = Object.keys(items).filter((key) => key.startsWith(LEGACY_PREFIX));
    for (const key of keys) {
      const origin = key.slice(LEGACY_PREFIX.length);
      const value = items[key];
      if (value !== null && typeof value === 'object' && value.allowed === false &&
          !known.has(origin) && originProblem(origin) === null) {
        await this.put(origin, false);
        known.add(origin);
      }
    }
    if (keys.length > 0) {
      await chrome.storage.local.remove(keys);
    }
  }
}
