// The user's answers to "may this site use your certificates?", one per
// origin. A site the user has not answered for is asked about in a window of
// the extension's own before its first request reaches the host. Answers are
// kept by ConsentStore, written here only; the consent page and the toolbar
// popup change them through the background's messages.
import { ConsentStore } from './consent-store.js';

const DISMISSED = 'dismissed:';

export class Consent {
  constructor() {
    this.store = new ConsentStore();
    this.decisions = new Map();      // origin -> true (allowed) or false (denied)
    this.prompts = new Map();        // origin -> {nonce, windowId, creating, done, settle, promise}
    this.waiting = [];               // prompts not shown yet, in the order asked
    this.shown = null;               // the prompt whose window is up, or being made
    this.earlyClosed = new Set();    // windows gone before windows.create told us their id
    this.listeners = [];             // called with an origin that lost its grant
    this.ready = this.load();
    chrome.windows.onRemoved.addListener((windowId) => this.windowClosed(windowId));
  }

  async load() {
    await this.store.open();
    const known = new Set((await this.store.all()).map((site) => site.origin));
    try {
      await this.store.migrateLegacy(known);
    } catch {
      // Left where they are, they are never read as answers again.
    }
    for (const site of await this.store.all()) {
      this.decisions.set(site.origin, site.allowed === true);
    }
  }

  onRevoked(listener) {
    this.listeners.push(listener);
  }

  // Every answer, in origin order: [{origin, allowed}].
  async list() {
    await this.ready;
    return [...this.decisions]
      .map(([origin, allowed]) => ({ origin, allowed }))
      .sort((a, b) => (a.origin < b.origin ? -1 : a.origin > b.origin ? 1 : 0));
  }

  // 'granted', 'denied' or 'dismissed'. Asks the user when the origin has no
  // answer yet; one question per origin however many requests wait for it,
  // and one window on screen at a time (showNext).
  async authorize(origin) {
    await this.ready;
    const decision = this.decisions.get(origin);
    if (decision !== undefined) {
      return decision ? 'granted' : 'denied';
    }
    // A page must not be able to raise the window again and again: once
    // closed unanswered, the origin is refused until the user answers from
    // the toolbar popup, or the browser restarts (session storage outlives
    // the background, not the browser).
    const key = DISMISSED + origin;
    if ((await chrome.storage.session.get(key))[key] === true) {
      return 'dismissed';
    }
    let prompt = this.prompts.get(origin);
    if (prompt === undefined) {
      prompt = this.openPrompt(origin);
    }
    return prompt.promise;
  }

  refusal(origin, verdict) {
    if (verdict === 'denied') {
      return `Tessera: ${origin} is not allowed to use your certificates.`;
    }
    return `Tessera: ${origin} was not allowed to use your certificates (the question was closed unanswered).`;
  }

  openPrompt(origin) {
    const nonce = crypto.randomUUID();
    const prompt = { origin, nonce, windowId: null, creating: false, done: false };
    prompt.promise = new Promise((resolve) => {
      prompt.settle = (verdict) => {
        if (prompt.done) {
          return;
        }
        prompt.done = true;
        if (this.prompts.get(origin) === prompt) {
          this.prompts.delete(origin);
        }
        // The next question shows once this one's window has gone; one
        // still being made goes as soon as it is there.
        if (prompt.windowId !== null) {
          chrome.windows.remove(prompt.windowId).catch(() => {}).finally(() => this.release(prompt));
        }
        resolve(verdict);
      };
    });
    this.prompts.set(origin, prompt);
    this.waiting.push(prompt);
    this.showNext();
    return prompt;
  }

  // One question on screen at a time, whatever the site: a page hopping
  // across origins must not pile up windows, each taking the focus. The
  // others wait, in the order asked; one answered meanwhile (from the
  // toolbar popup) is never shown.
  showNext() {
    if (this.shown !== null) {
      return;
    }
    let prompt = this.waiting.shift();
    while (prompt !== undefined && prompt.done) {
      prompt = this.waiting.shift();
    }
    if (prompt === undefined) {
      return;
    }
    this.shown = prompt;
    prompt.creating = true;
    const url = chrome.runtime.getURL(
      `consent.html?origin=${encodeURIComponent(prompt.origin)}&nonce=${encodeURIComponent(prompt.nonce)}`);
    chrome.windows.create({ url, type: 'popup', width: 480, height: 380, focused: true }).then(
      (window) => {
        prompt.creating = false;
        prompt.windowId = window.id;
        // Closed before its id was known here: windowClosed could not tell
        // whose it was, and kept it for this moment.
        const closedEarly = this.earlyClosed.delete(window.id);
        if (![...this.prompts.values()].some((other) => other.creating)) {
          this.earlyClosed.clear();
        }
        if (prompt.done) {
          // Answered from the popup while the window was being made.
          chrome.windows.remove(window.id).catch(() => {}).finally(() => this.release(prompt));
        } else if (closedEarly) {
          this.dismiss(prompt.origin, prompt);
        }
      },
      () => {
        prompt.creating = false;
        prompt.settle('dismissed');
        this.release(prompt);
      });
  }

  // The screen is free again once a question's window has gone.
  release(prompt) {
    if (this.shown === prompt) {
      this.shown = null;
      this.showNext();
    }
  }

  // A question closed unanswered: refused, and not asked again this session.
  dismiss(origin, prompt) {
    if (prompt.done) {
      return;
    }
    chrome.storage.session.set({ [DISMISSED + origin]: true })
      .catch(() => {})
      .finally(() => prompt.settle('dismissed'));
  }

  windowClosed(windowId) {
    let known = false;
    for (const [origin, prompt] of this.prompts) {
      if (prompt.windowId === windowId) {
        known = true;
        this.dismiss(origin, prompt);
      }
    }
    if (!known && [...this.prompts.values()].some((prompt) => prompt.creating)) {
      this.earlyClosed.add(windowId);
    }
  }

  // An answer from the consent page. Only that page, holding the nonce of a
  // prompt still open, can answer it.
  async answer(message, sender) {
    const page = chrome.runtime.getURL('consent.html');
    if (sender.id !== chrome.runtime.id || typeof sender.url !== 'string' || !sender.url.startsWith(page)) {
      return false;
    }
    const prompt = this.prompts.get(message.origin);
    if (prompt === undefined || prompt.nonce !== message.nonce) {
      return false;
    }
    await this.decide(message.origin, message.allowed === true);
    return true;
  }

  // Records an answer, settles an open question for the origin, and ends the
  // sessions of an origin no longer allowed.
  async decide(origin, allowed) {
    await this.ready;
    await this.store.put(origin, allowed);
    this.decisions.set(origin, allowed);
    await this.changed(origin, allowed ? 'granted' : 'denied');
  }

  // Forgets an answer: the origin is asked again at its next request.
  async forget(origin) {
    await this.ready;
    await this.store.remove(origin);
    this.decisions.delete(origin);
    await this.changed(origin, null);
  }

  async changed(origin, verdict) {
    // Any answer, or forgetting one, also lifts the refusal of a closed question.
    await chrome.storage.session.remove(DISMISSED + origin).catch(() => {});
    const prompt = this.prompts.get(origin);
    if (prompt !== undefined && verdict !== null) {
      prompt.settle(verdict);
    }
    if (verdict !== 'granted') {
      for (const listener of this.listeners) {
        listener(origin);
      }
    }
  }
}
