// Which sites may be offered the consent question at all. A site reached over
// plain http can be impersonated by anyone on the network path, who would then
// sign with the user's keys in its name; so only secure contexts qualify:
// https, and http on this computer's loopback addresses for local development.

function isLoopback(hostname) {
  // URL has already normalised the host: 127.1 reads 127.0.0.1, IPv6 is bracketed.
  return hostname === 'localhost' || hostname === '[::1]' || /^127\.\d{1,3}\.\d{1,3}\.\d{1,3}$/.test(hostname);
}

// Why pages of this origin may not use certificates, or null when they may.
export function originProblem(origin) {
  let url = null;
  try {
    url = new URL(origin);
  } catch {
    url = null;
  }
  if (url === null || origin === 'null' || url.origin !== origin ||
      (url.protocol !== 'https:' && url.protocol !== 'http:')) {
    return 'Tessera: only http and https pages with an origin of their own may use certificates.';
  }
  if (url.protocol === 'http:' && !isLoopback(url.hostname)) {
    return `Tessera: ${origin} is not a secure site: anyone on the network path could act in its name. ` +
           'Only https sites (and http on this computer, for development) may use your certificates.';
  }
  return null;
}
