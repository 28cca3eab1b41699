// Which requests the host answers. The host reads on without a word after a
// request it cannot use, so passing one through would leave the page (and
// every request queued behind it) waiting for ever. The host's rules: a JSON
// object with a "function" member naming one of its five functions and a
// "params" member; member and function names compare ignoring ASCII case.

const FUNCTIONS = [
  'selectsigncertificate',
  'signmessage',
  'signmessagedetached',
  'signmessagepkcs1',
  'getlasterrordesc',
];

function asciiLower(text) {
  return text.replace(/[A-Z]/g, (c) => c.toLowerCase());
}

function member(object, name) {
  for (const key of Object.keys(object)) {
    if (asciiLower(key) === name) {
      return object[key];
    }
  }
  return undefined;
}

// Returns null for a request the host will answer, or why it would not.
export function requestProblem(request) {
  if (request === null || typeof request !== 'object' || Array.isArray(request)) {
    return 'Tessera: a request is a JSON object.';
  }
  const name = member(request, 'function');
  if (typeof name !== 'string') {
    return 'Tessera: a request needs a "function" name.';
  }
  if (!FUNCTIONS.includes(asciiLower(name))) {
    return `Tessera: unknown function "${name}".`;
  }
  if (member(request, 'params') === undefined) {
    return 'Tessera: a request needs "params".';
  }
  return null;
}
