// One tab's conversation with its own tessera-host. The host keeps the
// selected certificate for as long as it runs, so a tab keeps one long-lived
// port, and the host answers one request at a time, so requests wait in
// order and only one is ever in flight.

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
  // when the host could not be started or exited before answering.
  send(request, isWanted = () => true) {
    return new Promise((resolve, reject) => {
      if (this.closed) {
        reject(new Error('Tessera: this session has ended.'));
        return;
      }
      this.queue.push({ request, resolve, reject, isWanted });
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
      this.inFlight = job;
      try {
        this.connect().postMessage(job.request);
      } catch (error) {
        this.inFlight = null;
        this.port = null;
        job.reject(error);
      }
    }
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
