// The demo page: every function of the host through window.tessera, with the
// host's response as it came and, after a failure, the description of it.
const $ = (id) => document.getElementById(id);

function show(response) {
  $('response').textContent = JSON.stringify(response, null, 2);
}

async function run(call) {
  if (window.tessera === undefined) {
    $('response').textContent = 'The Tessera extension is not installed in this browser.';
    return;
  }
  $('response').textContent = '…';
  $('description').textContent = '';
  try {
    const response = await call(window.tessera);
    show(response);
    if (response.errorcode !== 0 && response.function !== 'GetLastErrorDesc') {
      const description = await window.tessera.getLastErrorDesc();
      $('description').textContent = description.result;
    } else if (response.function === 'GetLastErrorDesc') {
      $('description').textContent = response.result;
    }
  } catch (error) {
    $('response').textContent = `Error: ${error.message}`;
  }
}

const text = () => $('text').value;
const hash = () => $('hash').value;
$('select').addEventListener('click', () => run((t) => t.selectSignCertificate($('subject').value, $('issuer').value)));
$('sign').addEventListener('click', () => run((t) => t.signMessage(text(), hash())));
$('sign-detached').addEventListener('click', () => run((t) => t.signMessageDetached(text(), hash())));
$('sign-pkcs1').addEventListener('click', () => run((t) => t.signMessagePKCS1(text(), hash())));
$('describe').addEventListener('click', () => run((t) => t.getLastErrorDesc()));

function ready() {
  const found = window.tessera !== undefined;
  if (found && !window.isSecureContext) {
    // Tessera refuses plain http sites other than this computer's own.
    $('status').textContent = 'This page is not a secure context, so Tessera will refuse it: ' +
      'serve it over https, or open it from 127.0.0.1 or localhost.';
    $('status').className = 'status missing';
    return;
  }
  $('status').textContent = found
    ? 'Tessera is ready. The first request asks you whether this site may use your certificates.'
    : 'The Tessera extension is not installed in this browser (or it started after this page: reload).';
  $('status').className = found ? 'status ready' : 'status missing';
}
// The extension defines window.tessera before the page's scripts run.
ready();
