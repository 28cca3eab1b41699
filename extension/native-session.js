// One tab's conversation with its own tessera-host. The host keeps the
// selected certificate for as long as it runs, so a tab keeps one long-lived
// port, and the host answers one request at a time, so requests wait in
// order and only one is ever in flight.

// How long a request may wait for its host's answer. A PIN prompt and the
// selection dialog wait for a person, so the bound is generous; a host
// silent for longer is stuck (say, on a file that never opens) and is
// ended. The extension's session storage, which content scripts cannot
// reach, may set another bound in milliseconds, as "requestBoundMs" (the
// tests do).
export const REQUEST_BOUND_MS = 10 * 60 * 1000;
let requestBoundMs = REQUEST_BOUND_MS;

function setBound(value) {
  requestBoundMs = Number.isSafeInteger(value) && value > 0 ? value : REQUEST_BOUND_MS;
}
chrome.storage.session.get('requestBoundMs', (stored) => setBound(stored?.requestBoundMs));
chrome.storage.onChanged.addListener((changes, area) => {
  if (area === 'session' && 'requestBoundMs' in changes) {
    setBound(changes.requestBoundMs.newValue);
  }
});

function describeBound(ms) {
  return ms % 60000 === 0 ? `${ms / 60000} minutes` : `${ms / 1000} seconds`;
}

export class NativeSession {
  constructor(hostName, origin) {
    this.hostName = hostName;
    this.origin = origin;
    this.port = null;
    this.queue = [];
    this.inFlight = null;
    this.closed = false;
  }

  // Resolves with the host's response, or rejects with the browser's reason
  // when the host could not be started or exited before answering. When its
  // turn comes, a request the page no longer wants fails, and one the gate
  // answers (with a response in the host's form) never reaches the host.
  // seen(response) learns of the host's response before the next request's
  // turn comes.
  send(request, isWanted = () => true, gate = () => undefined, seen = () => {}) {
    return new Promise((resolve, reject) => {
      if (this.closed) {
        reject(new Error('Tessera: this session has ended.'));
        return;
      }
      const job = { request, isWanted, gate, seen, timer: undefined };
      job.resolve = (value) => { clearTimeout(job.timer); resolve(value); };
      job.reject = (error) => { clearTimeout(job.timer); reject(error); };
      this.queue.push(job);
      this.pump();
    });
  }

  // Ends the session: the host sees the end of its input and exits.
  close(reason) {
    this.closed = true;
    const error = new Error(reason);
    for (const job of this.queue.splice(0)) {
      job.reject(error);
    }
    if (this.inFlight !== null) {
      this.inFlight.reject(error);
      this.inFlight = null;
    }
    if (this.port !== null) {
      this.port.disconnect();
      this.port = null;
    }
  }

  pump() {
    while (this.inFlight === null && this.queue.length > 0) {
      const job = this.queue.shift();
      if (!job.isWanted()) {
        job.reject(new Error('Tessera: the page that asked has gone.'));
        continue;
      }
      const answer = job.gate();
      if (answer !== undefined) {
        job.resolve(answer);
        continue;
      }
      this.inFlight = job;
      try {
        this.connect().postMessage(job.request);
      } catch (error) {
        this.inFlight = null;
        this.port = null;
        job.reject(error);
        continue;
      }
      this.bound(job);
    }
  }

  // Ends the host of a request that has waited too long, and fails the
  // request; the next one starts a new host.
  bound(job) {
    const ms = requestBoundMs;
    job.timer = setTimeout(() => {
      if (this.inFlight !== job) {
        return;
      }
      this.inFlight = null;
      const port = this.port;
      this.port = null;
      port?.disconnect();
      job.reject(new Error(`Tessera: tessera-host did not answer within ${describeBound(ms)} and was ended.`));
      if (!this.closed) {
        this.pump();
      }
    }, ms);
  }

  connect() {
    if (this.port !== null) {
      return this.port;
    }
    const port = chrome.runtime.connectNative(this.hostName);
    port.onMessage.addListener((response) => {
      const job = this.inFlight;
      this.inFlight = null;
      if (job !== null) {
        job.seen(response);
        job.resolve(response);
      }
      this.pump();
    });
    // The host exited, or never started: fail the request it held and start
    // a new host for the next one (its selection is gone with the old one).
    port.onDisconnect.addListener(() => {
      const reason = chrome.runtime.lastError?.message ?? port.error?.message ?? 'Native host has exited.';
      if (this.port === port) {
        this.port = null;
      }
      const job = this.inFlight;
      this.inFlight = null;
      if (job !== null) {
        job.reject(new Error(reason));
      }
      if (!this.closed) {
        this.pump();
      }
    });
    this.port = port;
    return port;
  }
}
