// Which requests the host answers. The host reads on without a word after a
// request it cannot use, so passing one through would leave the page (and
// every request queued behind it) waiting for ever. The host's rules: a JSON
// text its parser accepts, holding an object with a "function" member naming
// one of its five functions and a "params" member; member and function names
// compare ignoring ASCII case.
//
// Its parser refuses the whole text when any string in it, member names
// included, holds half of a surrogate pair (JSON.stringify writes one as
// "\ud800"), and when containers nest deeper than 1000 levels. A real request
// is 3 levels deep ({params: [{param}]}); MAX_DEPTH leaves room for any
// extra members a page may send and stays far below the parser's limit.

export const MAX_DEPTH = 32;

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

// Why the parsed JSON value cannot go to the host, or null. Walks the value
// with a stack of its own, so a page's deep nesting costs no recursion here.
function jsonProblem(value) {
  const pending = [[value, 1]];
  while (pending.length > 0) {
    const [item, depth] = pending.pop();
    if (typeof item === 'string') {
      if (!item.isWellFormed()) {
        return 'Tessera: the request holds text with half of a surrogate pair (such as "\\ud800"), which is not Unicode.';
      }
    } else if (item !== null && typeof item === 'object') {
      if (depth > MAX_DEPTH) {
        return `Tessera: the request is nested deeper than ${MAX_DEPTH} levels.`;
      }
      if (Array.isArray(item)) {
        for (const element of item) {
          pending.push([element, depth + 1]);
        }
      } else {
        for (const [key, element] of Object.entries(item)) {
          pending.push([key, depth], [element, depth + 1]);
        }
      }
    }
  }
  return null;
}

// What goes to the host for a request from a page: {request} holding the
// request as plain JSON data, or {problem} saying why it cannot be sent.
// The request is checked as the JSON text the browser would send: a Date
// becomes its text, a Map an empty object, a member whose value is a
// function or undefined disappears, and a BigInt or a cycle cannot be sent
// at all. The parsed text is what goes on, so nothing the browser might
// serialize differently reaches the host.
export function checkRequest(value) {
  let text;
  try {
    text = JSON.stringify(value);
  } catch (error) {
    // A BigInt, a cycle, or nesting deep enough to exhaust the stack.
    return { problem: `Tessera: the request cannot be sent as JSON (${error?.message ?? error}).` };
  }
  if (typeof text !== 'string') {
    return { problem: 'Tessera: a request is a JSON object.' };
  }
  const request = JSON.parse(text);
  if (request === null || typeof request !== 'object' || Array.isArray(request)) {
    return { problem: 'Tessera: a request is a JSON object.' };
  }
  const problem = jsonProblem(request);
  if (problem !== null) {
    return { problem };
  }
  const name = member(request, 'function');
  if (typeof name !== 'string') {
    return { problem: 'Tessera: a request needs a "function" name.' };
  }
  if (!FUNCTIONS.includes(asciiLower(name))) {
    return { problem: `Tessera: unknown function "${name}".` };
  }
  if (member(request, 'params') === undefined) {
    return { problem: 'Tessera: a request needs "params".' };
  }
  return { request, name: asciiLower(name) };
}
