// The user's answers to "may this site use your certificates?", one per
// origin. A site the user has not answered for is asked about in a window of
// the extension's own before its first request reaches the host. Answers are
// kept in storage under "site:<origin>" as {allowed, decided}; the toolbar
// popup shows them and forgets them.

const PREFIX = 'site:';
const DISMISSED = 'dismissed:';

export function siteKey(origin) {
  return PREFIX + origin;
}

export class Consent {
  constructor() {
    this.decisions = new Map();   // origin -> true (allowed) or false (denied)
    this.prompts = new Map();     // origin -> {nonce, windowId, settle, promise}
    this.listeners = [];          // called with an origin that lost its grant
    this.ready = chrome.storage.local.get(null).then((items) => {
      for (const [key, value] of Object.entries(items)) {
        if (key.startsWith(PREFIX) && value !== null && typeof value === 'object') {
          this.decisions.set(key.slice(PREFIX.length), value.allowed === true);
        }
      }
    });
    chrome.storage.onChanged.addListener((changes, area) => this.storageChanged(changes, area));
    chrome.windows.onRemoved.addListener((windowId) => this.windowClosed(windowId));
  }

  onRevoked(listener) {
    this.listeners.push(listener);
  }

  // 'granted', 'denied' or 'dismissed'. Asks the user when the origin has no
  // answer yet; one window per origin however many requests wait for it.
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
    const prompt = { nonce, windowId: null };
    prompt.promise = new Promise((resolve) => {
      prompt.settle = (verdict) => {
        this.prompts.delete(origin);
        resolve(verdict);
      };
    });
    this.prompts.set(origin, prompt);
    const url = chrome.runtime.getURL(
      `consent.html?origin=${encodeURIComponent(origin)}&nonce=${encodeURIComponent(nonce)}`);
    chrome.windows.create({ url, type: 'popup', width: 480, height: 340, focused: true }).then(
      (window) => {
        prompt.windowId = window.id;
      },
      () => prompt.settle('dismissed'));
    return prompt;
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
    prompt.settle(message.allowed === true ? 'granted' : 'denied');
    if (prompt.windowId !== null) {
      chrome.windows.remove(prompt.windowId).catch(() => {});
    }
    return true;
  }

  async decide(origin, allowed) {
    this.decisions.set(origin, allowed);
    await chrome.storage.local.set({ [siteKey(origin)]: { allowed, decided: Date.now() } });
  }

  windowClosed(windowId) {
    for (const [origin, prompt] of this.prompts) {
      if (prompt.windowId === windowId) {
        chrome.storage.session.set({ [DISMISSED + origin]: true }).finally(() => prompt.settle('dismissed'));
      }
    }
  }

  // Answers changed elsewhere (the toolbar popup): follow them, and end the
  // sessions of every origin that is no longer allowed.
  storageChanged(changes, area) {
    if (area !== 'local') {
      return;
    }
    for (const [key, change] of Object.entries(changes)) {
      if (!key.startsWith(PREFIX)) {
        continue;
      }
      const origin = key.slice(PREFIX.length);
      const allowed = change.newValue?.allowed;
      // Any answer, or forgetting one, also lifts the refusal of a closed question.
      chrome.storage.session.remove(DISMISSED + origin).catch(() => {});
      if (allowed === undefined) {
        this.decisions.delete(origin);
      } else {
        this.decisions.set(origin, allowed === true);
        // Answered from the popup while the question was open.
        const prompt = this.prompts.get(origin);
        if (prompt !== undefined) {
          prompt.settle(allowed === true ? 'granted' : 'denied');
          if (prompt.windowId !== null) {
            chrome.windows.remove(prompt.windowId).catch(() => {});
          }
        }
      }
      if (allowed !== true) {
        for (const listener of this.listeners) {
          listener(origin);
        }
      }
    }
  }
}
